#include "Logger.h"

#include <cstdio>
#include <new>

namespace {
Logger* g_instance = nullptr;
}

Logger& Logger::GetInstance()
{
    // A function-local static is created exactly once even when two threads
    // log their first line at the same moment. The logger lives in static
    // storage and is never destroyed, so a thread that logs while the
    // process exits still finds it.
    static Logger* instance = []() {
        fputs("Logger created\n", stdout);
        fflush(stdout);
        alignas(Logger) static unsigned char storage[sizeof(Logger)];
        g_instance = new (storage) Logger();
        return g_instance;
    }();
    return *instance;
}

// When the library is unloaded (a CIM object manager unloads an idle
// provider and loads it again later) or the process ends, the log file is
// closed and the handler's memory released, so that reloads leak neither a
// descriptor nor memory. Lines logged after that are dropped.
__attribute__((destructor)) static void ReleaseLoggerAtUnload()
{
    if (g_instance != nullptr) {
        g_instance->GetFileHandler().Shutdown();
    }
}
