// The key=value line reader of both configuration files, applying each
// pair to a log handler as the logging configuration does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "FuzzLogging.h"
#include "KeyValueFile.h"
#include "Logger.h"

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
    std::vector<char> bytes(data, data + size);
    FILE* stream = fmemopen(bytes.data(), bytes.size(), "r");
    if (stream == nullptr) {
        return 0;
    }
    static FileLogHandler* handler = new FileLogHandler();
    size_t pairs = 0;
    KeyValueFile::ReadStream(stream, [&pairs](const std::string& key, const std::string& value) {
        if (key.empty() || key.find('=') != std::string::npos || value.find('\n') != std::string::npos) {
            __builtin_trap();
        }
        handler->ApplyConfigValue(key, value);
        ++pairs;
    });
    fclose(stream);
    if (pairs > size || handler->GetLevel() > LEVEL_TRACE || handler->GetMaxLength() < 4096) {
        __builtin_trap();
    }
    return 0;
}
