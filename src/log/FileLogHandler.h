#ifndef PNLMON_FILELOGHANDLER_H
#define PNLMON_FILELOGHANDLER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "LogHandler.h"

// Writes lines to a size-limited file, or to standard error when configured
// as console. Reads "/etc/pnlmon/log.conf" once, at construction.
//
// A line that finds the file at MaxLength or longer closes it and makes the
// sink Full: lines are dropped. While Full, the file's size is looked at
// again at most once per kFullRecheck, on a line being dropped; when the
// file is shorter than MaxLength (rotated with copytruncate, truncated or
// removed by an administrator), the sink opens it again and writes.
class FileLogHandler : public LogHandler {
public:
    FileLogHandler();
    ~FileLogHandler() override;
    FileLogHandler(const FileLogHandler&) = delete;
    FileLogHandler& operator=(const FileLogHandler&) = delete;

    void Log(LogRecord& record) override;
    // The most detailed level anyone receives: the configured one, or the
    // mirror's when that is higher.
    LOG_LEVEL GetLevel() override;

    // The configuration as read; for tests and tools.
    const std::string& GetFileName() const { return m_FileName; }
    uint32_t GetMaxLength() const { return m_MaxLength; }
    bool IsConsole() const { return m_IsConsole; }
    bool IsFull();

    // While Full, how often the file's size is looked at again.
    static constexpr std::chrono::seconds kFullRecheck{1};

    // Closes the file for good when the library is unloaded; later lines are
    // dropped.
    void Shutdown();

    // Lines up to level also go to standard error, whatever the configured
    // level and destination; LEVEL_OFF (the default) stops that.
    void SetMirrorLevel(LOG_LEVEL level) { m_MirrorLevel.store(static_cast<int>(level)); }

    // Applies one key=value pair of the configuration file.
    void ApplyConfigValue(const std::string& key, const std::string& value);

private:
    void GetConfig();
    void WriteLog(std::string& line);
    void WriteConsole(std::string& line);
    // FileLogHandlerFull.cpp: with m_FileLock held.
    void BecomeFull();
    bool StaysFull();

    std::string m_FileName;
    uint32_t m_MaxLength;
    bool m_IsConsole;
    FILE* m_File;
    bool m_bLogFull;
    std::chrono::steady_clock::time_point m_NextSizeCheck;  // while Full
    bool m_bShutdown;
    // The configured path is no regular file (or a link to one): no file
    // log for this process.
    bool m_bRefused;
    std::atomic<int> m_MirrorLevel;
    // Guards the file state, so that threads logging their first lines at
    // the same moment open the file once.
    std::mutex m_FileLock;
};

#endif
