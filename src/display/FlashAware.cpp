#include "FlashAware.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Config.h"
#include "log.h"

bool FlashAware::isMonitorFlashProgramActive()
{
    return getMonitorFlashProgramActive();
}

bool FlashAware::getMonitorFlashProgramActive()
{
    std::string names;
    Config::getInstance()->getFlashUtilityNames(names);

    // Every piece between commas is a name, empty ones included; nothing is
    // trimmed.
    std::vector<std::string> list;
    size_t start = 0;
    for (;;) {
        size_t comma = names.find(',', start);
        if (comma == std::string::npos) {
            list.push_back(names.substr(start));
            break;
        }
        list.push_back(names.substr(start, comma - start));
        start = comma + 1;
    }
    return firstRunning(list) < list.size();
}

bool FlashAware::isProcessNameRunning(std::string& pname)
{
    std::vector<std::string> one(1, pname);
    return firstRunning(one) == 0;
}

size_t FlashAware::firstRunning(const std::vector<std::string>& names)
{
    // One pass over the process table answers every name: each process's
    // program name is read once and compared with each name. The answer is
    // the first name in list order that some process runs, as if the names
    // were looked for one after the other.
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        int error = errno;
        // Each name would have met the same closed door.
        for (size_t i = 0; i < names.size(); ++i) {
            Log(LEVEL_ERROR, "FlashAware::isProcessNameRunning - Cannot open /proc, errno=%d", error);
        }
        return names.size();
    }
    size_t first = names.size();
    char path[64];
    while (struct dirent* entry = readdir(proc)) {
        if (!isaProcessDir(entry->d_name)) {
            continue;
        }
        if (snprintf(path, sizeof(path), "/proc/%s/cmdline", entry->d_name) >= static_cast<int>(sizeof(path))) {
            continue;  // no process number is that long
        }
        char buffer[256] = {0};
        if (!readProgramPath(path, buffer, sizeof(buffer))) {
            continue;  // ended, or a kernel thread or zombie without a command line
        }
        // The program path ends at the first NUL.
        const char* program = buffer;
        const char* slash = strrchr(buffer, '/');
        if (slash != nullptr) {
            if (slash[1] == '\0') {
                continue;
            }
            program = slash + 1;
        }
        size_t length = strlen(program);
        for (size_t i = 0; i < first; ++i) {
            if (names[i].size() == length && names[i].compare(program) == 0) {
                first = i;
                break;
            }
        }
        if (first == 0) {
            break;  // nothing can come before the first name
        }
    }
    closedir(proc);
    if (first < names.size()) {
        Log(LEVEL_DEBUG, "FlashAware::isProcessNameRunning - found monitor flash process: '%s' running",
            names[first].c_str());
    }
    return first;
}

bool FlashAware::readProgramPath(const char* path, char* buffer, size_t size)
{
    // What one fgets() of size bytes would give: at most size-1 bytes, up to
    // and including the first newline; false when nothing could be read.
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    size_t got = 0;
    while (got + 1 < size) {
        ssize_t n = read(fd, buffer + got, size - 1 - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                got = 0;  // a read error gives nothing, as with fgets
            }
            break;
        }
        void* newline = memchr(buffer + got, '\n', static_cast<size_t>(n));
        if (newline != nullptr) {
            got = static_cast<size_t>(static_cast<char*>(newline) - buffer) + 1;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    buffer[got] = '\0';
    return got > 0;
}

bool FlashAware::isaProcessDir(const char* dirname)
{
    for (const char* c = dirname; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
    }
    return true;
}
