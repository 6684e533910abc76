// Every log line's stamp must read exactly as formatting each field afresh
// would give it: local date and time with milliseconds, process and thread
// numbers in eight hex digits. Lines are checked against that reference
// across second boundaries, from two threads, in a time zone with a
// half-hour offset.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "LogRecord.h"
#include "Sandbox.h"

namespace {

// The clock the stamps come from (time() may lag it by a tick).
time_t Now()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

// The reference for a line stamped at some moment in [before, after].
bool MatchesReference(const std::string& line, time_t before, time_t after, const std::string& message,
                      std::string* why)
{
    // "dd/mm/yyyy HH:MM:SS.mmm" + tab, then the process and thread fields.
    if (line.size() < 24) {
        *why = "short line: " + line;
        return false;
    }
    unsigned ms = 0;
    if (sscanf(line.c_str() + 20, "%3u", &ms) != 1 || ms > 999) {
        *why = "no milliseconds: " + line;
        return false;
    }
    char tail[128];
    snprintf(tail, sizeof(tail), "%03u\tP[%08x] T[%08x]\tDebug\t", ms, static_cast<unsigned>(getpid()),
             static_cast<unsigned>(static_cast<int32_t>(reinterpret_cast<uintptr_t>(
                 reinterpret_cast<void*>(pthread_self())))));
    for (time_t s = before; s <= after; ++s) {
        struct tm local;
        char date[64];
        localtime_r(&s, &local);
        strftime(date, sizeof(date), "%d/%m/%Y %H:%M:%S.", &local);
        if (line == std::string(date) + tail + message + "\r\n") {
            return true;
        }
    }
    *why = "no second in range gives: " + line;
    return false;
}

// Writes lines for a little more than one second; all must match.
int CheckLinesForASecond(const char* message)
{
    time_t end = Now() + 2;
    int lines = 0;
    while (Now() < end) {
        time_t before = Now();
        std::string text(message);
        LogRecord record(LEVEL_DEBUG, text);
        std::string line;
        record.GetLogLine(line);
        std::string again = "left over";  // the line replaces what the string held
        record.GetLogLine(again);
        time_t after = Now();
        std::string why;
        if (!MatchesReference(line, before, after, message, &why) ||
            again != line) {
            fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        ++lines;
        usleep(2000);
    }
    return lines > 100 ? 0 : 2;
}

}  // namespace

TEST(LogLine, StampsReadAsFormattedAfreshAcrossSecondsThreadsAndZones)
{
    sandbox::ChildResult r = sandbox::RunInChild([]() {
        setenv("TZ", "XST-05:30", 1);
        tzset();
        int first = 0;
        std::thread other([&first]() { first = CheckLinesForASecond("from another thread"); });
        int second = CheckLinesForASecond("from the main thread, a longer message 100%");
        other.join();
        return first * 10 + second;
    });
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

namespace {

// True when a line stamped now carries this process's number.
bool StampsOwnProcess()
{
    std::string message = "which process";
    LogRecord record(LEVEL_DEBUG, message);
    std::string line;
    record.GetLogLine(line);
    char expected[32];
    snprintf(expected, sizeof(expected), "\tP[%08x] ", static_cast<unsigned>(getpid()));
    return line.find(expected) != std::string::npos;
}

}  // namespace

TEST(LogLine, AForkedChildStampsItsOwnProcessNumber)
{
    sandbox::ChildResult r = sandbox::RunInChild([]() {
        if (!StampsOwnProcess() || !StampsOwnProcess()) {
            return 1;
        }
        pid_t child = fork();
        if (child == 0) {
            _exit(StampsOwnProcess() ? 0 : 1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return 2;
        }
        return StampsOwnProcess() ? 0 : 3;
    });
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // In a PID namespace of its own a child is process 1.
    r = sandbox::RunInPidNamespace([]() { return StampsOwnProcess() && getpid() == 1 ? 0 : 1; });
    EXPECT_EQ(r.exitCode, 0) << r.err;
}
