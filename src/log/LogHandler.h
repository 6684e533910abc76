#ifndef PNLMON_LOGHANDLER_H
#define PNLMON_LOGHANDLER_H

#include "LogRecord.h"

// The abstract sink of log records.
class LogHandler {
public:
    LogHandler() : m_Level(LEVEL_OFF) {}
    virtual ~LogHandler() {}
    virtual void Log(LogRecord& record) = 0;
    virtual LOG_LEVEL GetLevel() = 0;

protected:
    LOG_LEVEL m_Level;
};

#endif
