#include "LogRecord.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

namespace {
// Exactly five characters each; levels above LEVEL_TRACE have no text.
const char* const kLevelTexts[] = {"Off  ", "Error", "Info ", "Debug", "Trace"};
}

LogRecord::LogRecord(LOG_LEVEL level, std::string& message)
    : m_Level(level), m_Message(message)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    m_TimeStamp.time = now.tv_sec;
    m_TimeStamp.millitm = static_cast<uint16_t>(now.tv_nsec / 1000000);
    m_TimeStamp.timezone = 0;
    m_TimeStamp.dstflag = 0;
    m_ThreadID = static_cast<int32_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(pthread_self())));
    m_ProcessID = static_cast<int32_t>(getpid());
}

void LogRecord::GetTimeString(std::string& out)
{
    struct tm local;
    char buffer[256];
    if (localtime_r(&m_TimeStamp.time, &local) == nullptr ||
        strftime(buffer, sizeof(buffer), "%d/%m/%Y %H:%M:%S.", &local) == 0) {
        buffer[0] = '\0';
    }
    out += buffer;
    char millis[32];
    snprintf(millis, sizeof(millis), "%03hu", m_TimeStamp.millitm);
    out += millis;
}

void LogRecord::GetPidString(std::string& out)
{
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "P[%08x]", static_cast<unsigned int>(m_ProcessID));
    out += buffer;
}

void LogRecord::GetTidString(std::string& out)
{
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "T[%08x]", static_cast<unsigned int>(m_ThreadID));
    out += buffer;
}

void LogRecord::GetLevelString(std::string& out)
{
    if (m_Level >= LEVEL_OFF && m_Level <= LEVEL_TRACE) {
        out += kLevelTexts[m_Level];
    }
}

void LogRecord::GetLogLine(std::string& line)
{
    std::string result;
    result.reserve(128);
    GetTimeString(result);
    result += '\t';
    GetPidString(result);
    result += ' ';
    GetTidString(result);
    result += '\t';
    GetLevelString(result);
    result += '\t';
    result += m_Message;
    result += "\r\n";
    line = result;
}
