// Formatting of untrusted text into log lines: monitor bytes dumped as hex
// under a title, report texts logged through "%s" (narrow and wide), whole
// messages handed over as they are, and the line a record builds. The first
// byte picks the level (any value, also beyond the known levels); the title
// is the text up to the first NUL, the dumped bytes are the rest.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzLogging.h"
#include "HexDump.h"
#include "LogRecord.h"
#include "log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLoggingToNowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    LOG_LEVEL level = static_cast<LOG_LEVEL>(static_cast<int>(data[0] & 0x07) - 1);
    std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
    // A NUL-terminated copy: the text is what a C string of these bytes holds.
    std::string title(all.c_str());
    size_t rest = all.size() > title.size() ? title.size() + 1 : all.size();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(all.data()) + rest;
    int length = static_cast<int>(all.size() - rest);

    HexDump::log(length > 0 ? bytes : nullptr, length, title.c_str());
    Log(level, "%s", title.c_str());
    Log(level, "%s: %.*s", title.c_str(), length, reinterpret_cast<const char*>(bytes));
    LogQuick(level, title.c_str());
    WLog(level, L"%s", title.c_str());

    std::string message = title;
    LogRecord record(level, message);
    std::string line;
    record.GetLogLine(line);
    if (line.size() < message.size() + 2 || line.compare(line.size() - 2, 2, "\r\n") != 0 ||
        line.compare(line.size() - 2 - message.size(), message.size(), message) != 0) {
        __builtin_trap();
    }
    return 0;
}
