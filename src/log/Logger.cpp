#include "Logger.h"

#include <cstdio>

Logger& Logger::GetInstance()
{
    // A function-local static is created exactly once even when two threads
    // log their first line at the same moment.
    static Logger* instance = []() {
        fputs("Logger created\n", stdout);
        fflush(stdout);
        return new Logger();
    }();
    return *instance;
}
