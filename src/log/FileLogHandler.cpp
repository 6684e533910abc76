#include "FileLogHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "KeyValueFile.h"

namespace {
const char kConfigPath[] = "/etc/pnlmon/log.conf";
const char kDefaultFileName[] = "/var/log/pnlmon/pnlmon.log";
const uint32_t kDefaultMaxLength = 0xa00000;
const uint32_t kMinMaxLength = 4096;

// Reads an unsigned decimal number as "%lu" does: leading blanks allowed,
// reading stops at the first non-digit. False when no number starts the text.
bool ParseUnsigned(const std::string& text, unsigned long& out)
{
    return sscanf(text.c_str(), "%lu", &out) == 1;
}

const char* FileKind(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "a folder";
    case S_IFIFO:
        return "a named pipe";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    default:
        return "not a regular file";
    }
}

// The path as the stderr line shows it: bytes outside printable ASCII as \xHH.
std::string Printable(const std::string& text)
{
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Opens the log for appending: never through a symbolic link, never
// blocking (a named pipe without a reader would hold the logging lock for
// good), not inherited by programs the process starts, created 0640.
// Only a regular file is accepted. Returns nullptr with why set when the
// path is refused for good, with why empty when the open merely failed
// (a folder or permission not there yet: tried again at the next line).
FILE* OpenLogFile(const std::string& path, std::string& why)
{
    why.clear();
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0640);
    if (fd < 0) {
        int error = errno;
        if (error == ELOOP) {
            why = "is a symbolic link";
        } else if (error == ENXIO) {
            why = "is a named pipe without a reader";
        } else if (error == EISDIR) {
            why = "is a folder";
        }
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        why = std::string("cannot be examined: ") + strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        why = std::string("is ") + FileKind(status.st_mode);
    } else {
        int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            why = std::string("cannot be set to blocking writes: ") + strerror(errno);
        }
    }
    FILE* file = why.empty() ? fdopen(fd, "a") : nullptr;
    if (file == nullptr) {
        close(fd);
    }
    return file;
}
}

FileLogHandler::FileLogHandler()
    : m_MaxLength(kDefaultMaxLength), m_IsConsole(false), m_File(nullptr), m_bLogFull(false), m_bShutdown(false),
      m_bRefused(false), m_MirrorLevel(LEVEL_OFF)
{
    GetConfig();
}

FileLogHandler::~FileLogHandler()
{
    if (m_File != nullptr) {
        fclose(m_File);
        m_File = nullptr;
    }
}

void FileLogHandler::GetConfig()
{
    m_FileName = kDefaultFileName;
    m_IsConsole = false;
    m_Level = LEVEL_TRACE;
    m_MaxLength = kDefaultMaxLength;
    KeyValueFile::ReadFile(kConfigPath, [this](const std::string& key, const std::string& value) {
        ApplyConfigValue(key, value);
    });
}

void FileLogHandler::ApplyConfigValue(const std::string& key, const std::string& value)
{
    unsigned long number = 0;
    if (key == "FileName") {
        if (!value.empty()) {
            m_FileName = value;
        }
    } else if (key == "IsConsole") {
        if (!value.empty() && (value[0] == '1' || value[0] == 'T' || value[0] == 't')) {
            m_IsConsole = true;
        }
    } else if (key == "Level") {
        if (ParseUnsigned(value, number) && number <= LEVEL_TRACE) {
            m_Level = static_cast<LOG_LEVEL>(number);
        }
    } else if (key == "MaxLength") {
        if (ParseUnsigned(value, number)) {
            if (number < kMinMaxLength) {
                number = kMinMaxLength;
            } else if (number > UINT32_MAX) {
                number = UINT32_MAX;
            }
            m_MaxLength = static_cast<uint32_t>(number);
        }
    }
}

LOG_LEVEL FileLogHandler::GetLevel()
{
    int mirror = m_MirrorLevel.load();
    return mirror > static_cast<int>(m_Level) ? static_cast<LOG_LEVEL>(mirror) : m_Level;
}

void FileLogHandler::Log(LogRecord& record)
{
    int level = static_cast<int>(record.GetLevel());
    bool configured = level <= static_cast<int>(m_Level);
    // A console destination already shows the line on standard error. A
    // mirror at LEVEL_OFF is no mirror, not even for an "Off" record.
    int mirror = m_MirrorLevel.load();
    bool mirrored = mirror > static_cast<int>(LEVEL_OFF) && level <= mirror && !(configured && m_IsConsole);
    if (!configured && !mirrored) {
        return;
    }
    std::string line;
    record.GetLogLine(line);
    if (configured) {
        if (m_IsConsole) {
            WriteConsole(line);
        } else {
            WriteLog(line);
        }
    }
    if (mirrored) {
        WriteConsole(line);
    }
}

bool FileLogHandler::IsFull()
{
    std::lock_guard<std::mutex> guard(m_FileLock);
    return m_bLogFull;
}

void FileLogHandler::WriteConsole(std::string& line)
{
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

void FileLogHandler::Shutdown()
{
    std::lock_guard<std::mutex> guard(m_FileLock);
    if (m_File != nullptr) {
        fclose(m_File);
        m_File = nullptr;
    }
    m_bShutdown = true;
    std::string().swap(m_FileName);
}

void FileLogHandler::WriteLog(std::string& line)
{
    std::lock_guard<std::mutex> guard(m_FileLock);
    if (m_bShutdown || m_bRefused || (m_bLogFull && StaysFull())) {
        return;
    }
    if (m_File == nullptr) {
        std::string why;
        m_File = OpenLogFile(m_FileName, why);
        if (m_File == nullptr) {
            if (!why.empty()) {
                // Said once; the process keeps running without a log file.
                m_bRefused = true;
                fprintf(stderr, "pnlmon: no log file: %s %s\n", Printable(m_FileName).c_str(), why.c_str());
                fflush(stderr);
            }
            return;
        }
    }
    struct stat status;
    if (fstat(fileno(m_File), &status) != 0) {
        fclose(m_File);
        m_File = nullptr;
        return;
    }
    if (static_cast<unsigned long long>(status.st_size) < m_MaxLength) {
        fwrite(line.data(), 1, line.size(), m_File);
        fflush(m_File);
    } else {
        fclose(m_File);
        m_File = nullptr;
        BecomeFull();
    }
}
