// Logging functions exported by both libvexdisplay and libvexdisplayprov.
// Each library has its own copy of the logging subsystem and its own
// Logger singleton; both append to the same file.
#ifndef PNLMON_LOG_H
#define PNLMON_LOG_H

#include <cstddef>

#ifndef PNLMON_EXPORT
#define PNLMON_EXPORT __attribute__((visibility("default")))
#endif

enum LOG_LEVEL : int {
    LEVEL_OFF = 0,
    LEVEL_ERROR = 1,
    LEVEL_INFO = 2,
    LEVEL_DEBUG = 3,
    LEVEL_TRACE = 4
};

extern "C++" {
PNLMON_EXPORT void Log(LOG_LEVEL level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
PNLMON_EXPORT void WLog(LOG_LEVEL level, const wchar_t* format, ...);
PNLMON_EXPORT void LogQuick(LOG_LEVEL level, const char* message);
// Also writes this library's log lines up to level to standard error, in
// the same format, whatever the configured level and destination; what the
// configured destination receives does not change. LEVEL_OFF stops it.
PNLMON_EXPORT void LogMirrorToStandardError(LOG_LEVEL level);
}

#endif
