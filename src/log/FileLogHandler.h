#ifndef PNLMON_FILELOGHANDLER_H
#define PNLMON_FILELOGHANDLER_H

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "LogHandler.h"

// Writes lines to a size-limited file, or to standard error when configured
// as console. Reads "/etc/pnlmon/log.conf" once, at construction.
class FileLogHandler : public LogHandler {
public:
    FileLogHandler();
    ~FileLogHandler() override;
    FileLogHandler(const FileLogHandler&) = delete;
    FileLogHandler& operator=(const FileLogHandler&) = delete;

    void Log(LogRecord& record) override;
    LOG_LEVEL GetLevel() override { return m_Level; }

    // The configuration as read; for tests and tools.
    const std::string& GetFileName() const { return m_FileName; }
    uint32_t GetMaxLength() const { return m_MaxLength; }
    bool IsConsole() const { return m_IsConsole; }
    bool IsFull();

    // Closes the file for good when the library is unloaded; later lines are
    // dropped.
    void Shutdown();

    // Applies one key=value pair of the configuration file.
    void ApplyConfigValue(const std::string& key, const std::string& value);

private:
    void GetConfig();
    void WriteLog(std::string& line);
    void WriteConsole(std::string& line);

    std::string m_FileName;
    uint32_t m_MaxLength;
    bool m_IsConsole;
    FILE* m_File;
    bool m_bLogFull;
    bool m_bShutdown;
    // Guards the file state, so that threads logging their first lines at
    // the same moment open the file once.
    std::mutex m_FileLock;
};

#endif
