#include "FileLogHandler.h"

#include <sys/stat.h>

#include <cstdlib>

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
}

FileLogHandler::FileLogHandler()
    : m_MaxLength(kDefaultMaxLength), m_IsConsole(false), m_File(nullptr), m_bLogFull(false), m_bShutdown(false),
      m_MirrorLevel(LEVEL_OFF)
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
    // A console destination already shows the line on standard error.
    bool mirrored = level <= m_MirrorLevel.load() && !(configured && m_IsConsole);
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
    if (m_bShutdown || (m_bLogFull && StaysFull())) {
        return;
    }
    if (m_File == nullptr) {
        m_File = fopen(m_FileName.c_str(), "a+");
        if (m_File == nullptr) {
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
