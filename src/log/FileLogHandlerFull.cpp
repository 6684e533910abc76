// The Full state of the file sink and its way back to Open.
//
// A terminal's log is rotated with copytruncate (packaging/logrotate) or
// truncated by hand while the process runs. Full therefore is not final:
// while lines are being dropped, the file's size is read again (one stat of
// its name) at most once per kFullRecheck, so a process logging thousands of
// lines a second while Full pays one clock read per dropped line and one
// stat a second.
#include "FileLogHandler.h"

#include <sys/stat.h>

constexpr std::chrono::seconds FileLogHandler::kFullRecheck;

void FileLogHandler::BecomeFull()
{
    m_bLogFull = true;
    m_NextSizeCheck = std::chrono::steady_clock::now() + kFullRecheck;
}

bool FileLogHandler::StaysFull()
{
    auto now = std::chrono::steady_clock::now();
    if (now < m_NextSizeCheck) {
        return true;
    }
    m_NextSizeCheck = now + kFullRecheck;
    struct stat status;
    if (stat(m_FileName.c_str(), &status) == 0 &&
        static_cast<unsigned long long>(status.st_size) >= m_MaxLength) {
        return true;
    }
    // Shorter than the limit, or gone (rotated by renaming): the line is
    // written to the file opened again, or created.
    m_bLogFull = false;
    return false;
}
