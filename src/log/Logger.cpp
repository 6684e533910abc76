#include "Logger.h"

#include <cstdio>
#include <new>

namespace {

// The logger lives in the library's own static storage rather than on the
// heap: when the library is unloaded (a CIMOM unloads an idle provider and
// loads it again later), nothing of it is left behind.
alignas(Logger) unsigned char g_storage[sizeof(Logger)];
Logger* g_logger = nullptr;

}  // namespace

Logger& Logger::GetInstance()
{
    // A function-local static is created exactly once even when two threads
    // log their first line at the same moment.
    static Logger* instance = []() {
        fputs("Logger created\n", stdout);
        fflush(stdout);
        g_logger = new (g_storage) Logger();
        return g_logger;
    }();
    return *instance;
}

// Runs when the library is unloaded, or when the process ends after every
// static destructor. The logger itself is never destroyed, so a thread still
// logging while the process ends finds it intact; only the log file is
// closed. Without this every unload and reload of the library kept one more
// open log file.
__attribute__((destructor)) static void CloseLogFile()
{
    if (g_logger != nullptr) {
        g_logger->GetFileHandler().Close();
    }
}
