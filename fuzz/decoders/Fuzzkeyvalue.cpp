// The key=value line reader of both configuration files, checked against a
// plain re-reading of the same bytes, with each pair applied to a log
// handler as the logging configuration does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "FileLogHandler.h"
#include "FuzzLogging.h"
#include "KeyValueFile.h"
#include "log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLoggingToNowhere();
    return 0;
}

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

// The format, read independently of the stream reader: lines end after each
// newline; the key is the text before the first "=" (at least one byte),
// the value the rest without the line's newline.
Pairs Expected(const char* data, size_t size)
{
    Pairs pairs;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != '\n') {
            ++end;
        }
        size_t next = end < size ? end + 1 : end;
        std::string line(data + start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos && eq != 0) {
            pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
        start = next;
    }
    return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;  // fmemopen refuses an empty buffer
    }
    std::vector<char> bytes(data, data + size);
    FILE* stream = fmemopen(bytes.data(), bytes.size(), "r");
    if (stream == nullptr) {
        return 0;
    }
    Pairs pairs;
    FileLogHandler handler;
    KeyValueFile::ReadStream(stream, [&](const std::string& key, const std::string& value) {
        pairs.emplace_back(key, value);
        handler.ApplyConfigValue(key, value);
    });
    fclose(stream);

    if (pairs != Expected(bytes.data(), bytes.size())) {
        __builtin_trap();
    }
    std::string fileName;
    bool console = false;
    for (const auto& pair : pairs) {
        if (pair.first == "FileName" && !pair.second.empty()) {
            fileName = pair.second;
        } else if (pair.first == "IsConsole" && !pair.second.empty() &&
                   (pair.second[0] == '1' || pair.second[0] == 'T' || pair.second[0] == 't')) {
            console = true;
        }
    }
    if ((!fileName.empty() && handler.GetFileName() != fileName) || handler.GetFileName().empty() ||
        (console && !handler.IsConsole()) || handler.GetLevel() > LEVEL_TRACE ||
        handler.GetLevel() < LEVEL_OFF || handler.GetMaxLength() < 4096) {
        __builtin_trap();
    }
    return 0;
}
