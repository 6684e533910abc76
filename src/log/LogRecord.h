#ifndef PNLMON_LOGRECORD_H
#define PNLMON_LOGRECORD_H

#include <cstdint>
#include <ctime>
#include <string>

#include "log.h"

// Creation time in the layout of the POSIX timeb record; only the seconds
// and milliseconds are used.
struct LogTimeStamp {
    time_t time;
    uint16_t millitm;
    int16_t timezone;
    int16_t dstflag;
};

// One message on its way to the sink.
class LogRecord {
public:
    LogRecord(LOG_LEVEL level, std::string& message);
    LogRecord(LOG_LEVEL level, const char* message);
    virtual ~LogRecord() {}

    // The whole line: time, process, thread, level, message, CR LF.
    void GetLogLine(std::string& line);

    LOG_LEVEL GetLevel() const { return m_Level; }

private:
    void Stamp();
    void GetTimeString(std::string& out);
    void GetPidString(std::string& out);
    void GetTidString(std::string& out);
    void GetLevelString(std::string& out);

    LOG_LEVEL m_Level;
    std::string m_Message;
    LogTimeStamp m_TimeStamp;
    int32_t m_ThreadID;
    int32_t m_ProcessID;
};

#endif
