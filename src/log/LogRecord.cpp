#include "LogRecord.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {
// Exactly five characters each; levels above LEVEL_TRACE have no text.
const char* const kLevelTexts[] = {"Off  ", "Error", "Info ", "Debug", "Trace"};

// Appends the value as "%08x" does.
void AppendHex8(std::string& out, uint32_t value)
{
    static const char kHex[] = "0123456789abcdef";
    char digits[8];
    for (int i = 7; i >= 0; --i) {
        digits[i] = kHex[value & 0x0f];
        value >>= 4;
    }
    out.append(digits, sizeof(digits));
}

// The local date and time of the last second a line of this thread was
// stamped with, as strftime gave it: lines come many to a second, and the
// conversion to local time is the dearest part of a line.
struct SecondText {
    bool valid = false;
    time_t second = 0;
    char text[256];
};
thread_local SecondText t_second;

// The process number, asked of the kernel once per process rather than once
// per line (glibc makes getpid() a system call). A child made by fork()
// forgets the parent's number and asks again.
std::atomic<int32_t> g_processId{0};

void ForgetProcessId()
{
    g_processId.store(0, std::memory_order_relaxed);
}

int32_t ProcessId()
{
    int32_t pid = g_processId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static std::once_flag registered;
        std::call_once(registered, []() { pthread_atfork(nullptr, nullptr, ForgetProcessId); });
        pid = static_cast<int32_t>(getpid());
        g_processId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}
}  // namespace

LogRecord::LogRecord(LOG_LEVEL level, std::string& message)
    : m_Level(level), m_Message(message)
{
    Stamp();
}

LogRecord::LogRecord(LOG_LEVEL level, const char* message)
    : m_Level(level), m_Message(message)
{
    Stamp();
}

void LogRecord::Stamp()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    m_TimeStamp.time = now.tv_sec;
    m_TimeStamp.millitm = static_cast<uint16_t>(now.tv_nsec / 1000000);
    m_TimeStamp.timezone = 0;
    m_TimeStamp.dstflag = 0;
    m_ThreadID = static_cast<int32_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(pthread_self())));
    m_ProcessID = ProcessId();
}

void LogRecord::GetTimeString(std::string& out)
{
    SecondText& cached = t_second;
    if (!cached.valid || cached.second != m_TimeStamp.time) {
        struct tm local;
        if (localtime_r(&m_TimeStamp.time, &local) == nullptr ||
            strftime(cached.text, sizeof(cached.text), "%d/%m/%Y %H:%M:%S.", &local) == 0) {
            cached.text[0] = '\0';
        }
        cached.second = m_TimeStamp.time;
        cached.valid = true;
    }
    out += cached.text;
    uint16_t ms = m_TimeStamp.millitm;
    if (ms < 1000) {
        const char millis[3] = {static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                                static_cast<char>('0' + ms % 10)};
        out.append(millis, sizeof(millis));
    } else {
        char millis[32];
        snprintf(millis, sizeof(millis), "%03hu", ms);
        out += millis;
    }
}

void LogRecord::GetPidString(std::string& out)
{
    out += "P[";
    AppendHex8(out, static_cast<uint32_t>(m_ProcessID));
    out += ']';
}

void LogRecord::GetTidString(std::string& out)
{
    out += "T[";
    AppendHex8(out, static_cast<uint32_t>(m_ThreadID));
    out += ']';
}

void LogRecord::GetLevelString(std::string& out)
{
    if (m_Level >= LEVEL_OFF && m_Level <= LEVEL_TRACE) {
        out += kLevelTexts[m_Level];
    }
}

void LogRecord::GetLogLine(std::string& line)
{
    line.clear();
    line.reserve(64 + m_Message.size());
    GetTimeString(line);
    line += '\t';
    GetPidString(line);
    line += ' ';
    GetTidString(line);
    line += '\t';
    GetLevelString(line);
    line += '\t';
    line += m_Message;
    line += "\r\n";
}
