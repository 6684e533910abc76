// The three exported logging functions.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "Logger.h"
#include "log.h"

namespace {
const size_t kMessageBufferSize = 4096;

void Submit(LOG_LEVEL level, const char* text)
{
    LogRecord record(level, text);
    Logger::GetInstance().GetHandler().Log(record);
}

bool Passes(LOG_LEVEL level, const void* text)
{
    LogHandler& handler = Logger::GetInstance().GetHandler();
    return text != nullptr && static_cast<int>(level) <= static_cast<int>(handler.GetLevel());
}
}

void Log(LOG_LEVEL level, const char* format, ...)
{
    if (!Passes(level, format)) {
        return;
    }
    char buffer[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (written < 0) {
        buffer[0] = '\0';
    }
    Submit(level, buffer);
}

void WLog(LOG_LEVEL level, const wchar_t* format, ...)
{
    if (!Passes(level, format)) {
        return;
    }
    wchar_t wide[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    int written = vswprintf(wide, kMessageBufferSize, format, args);
    va_end(args);
    if (written < 0) {
        // Output longer than the buffer: keep what was formatted.
        wide[kMessageBufferSize - 1] = L'\0';
    }
    char narrow[kMessageBufferSize];
    size_t converted = wcstombs(narrow, wide, sizeof(narrow));
    if (converted == static_cast<size_t>(-1)) {
        return;
    }
    narrow[sizeof(narrow) - 1] = '\0';
    Submit(level, narrow);
}

void LogQuick(LOG_LEVEL level, const char* message)
{
    if (!Passes(level, message)) {
        return;
    }
    Submit(level, message);
}

void LogMirrorToStandardError(LOG_LEVEL level)
{
    int value = static_cast<int>(level);
    if (value < static_cast<int>(LEVEL_OFF)) {
        value = LEVEL_OFF;
    } else if (value > static_cast<int>(LEVEL_TRACE)) {
        value = LEVEL_TRACE;
    }
    Logger::GetInstance().GetFileHandler().SetMirrorLevel(static_cast<LOG_LEVEL>(value));
}
