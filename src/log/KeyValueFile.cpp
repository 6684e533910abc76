#include "KeyValueFile.h"

#include <cstdlib>

bool KeyValueFile::SplitLine(const std::string& line, std::string& key, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    key.assign(line, 0, eq);
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') {
        --end;
    }
    value.assign(line, eq + 1, end > eq + 1 ? end - (eq + 1) : 0);
    return true;
}

void KeyValueFile::ReadStream(FILE* file, const Handler& handler)
{
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t got;
    std::string line, key, value;
    while ((got = getline(&buffer, &capacity, file)) > 0) {
        line.assign(buffer, static_cast<size_t>(got));
        if (SplitLine(line, key, value)) {
            handler(key, value);
        }
    }
    free(buffer);
}

bool KeyValueFile::ReadFile(const char* path, const Handler& handler)
{
    FILE* file = fopen(path, "r");
    if (file == nullptr) {
        return false;
    }
    ReadStream(file, handler);
    fclose(file);
    return true;
}
