#ifndef PNLMON_LOGGER_H
#define PNLMON_LOGGER_H

#include "FileLogHandler.h"

// The process-wide logging singleton of one library. Never destroyed, so the
// log file stays open until the process ends.
class Logger {
public:
    static Logger& GetInstance();
    LogHandler& GetHandler() { return m_Handler; }
    FileLogHandler& GetFileHandler() { return m_Handler; }

private:
    Logger() {}
    Logger(const Logger&);
    Logger& operator=(const Logger&);

    FileLogHandler m_Handler;
};

#endif
