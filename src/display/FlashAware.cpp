#include "FlashAware.h"

#include <dirent.h>

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

    for (std::string& name : list) {
        if (isProcessNameRunning(name)) {
            return true;
        }
    }
    return false;
}

bool FlashAware::isProcessNameRunning(std::string& pname)
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        Log(LEVEL_ERROR, "FlashAware::isProcessNameRunning - Cannot open /proc, errno=%d", errno);
        return false;
    }
    std::string path;
    while (struct dirent* entry = readdir(proc)) {
        if (!isaProcessDir(entry->d_name)) {
            continue;
        }
        path = "/proc";
        path += "/";
        path += entry->d_name;
        path += "/cmdline";
        FILE* cmdline = fopen(path.c_str(), "r");
        if (cmdline == nullptr) {
            continue;  // the process has just ended
        }
        char buffer[256] = {0};
        char* got = fgets(buffer, sizeof(buffer), cmdline);
        fclose(cmdline);
        if (got == nullptr) {
            continue;  // kernel threads and zombies have no command line
        }
        // The program path ends at the first NUL (fgets keeps the buffer
        // terminated within its 256 bytes).
        const char* program = buffer;
        const char* slash = strrchr(buffer, '/');
        if (slash != nullptr) {
            if (slash[1] == '\0') {
                continue;
            }
            program = slash + 1;
        }
        if (pname.size() == strlen(program) && pname.compare(program) == 0) {
            Log(LEVEL_DEBUG, "FlashAware::isProcessNameRunning - found monitor flash process: '%s' running", program);
            closedir(proc);
            return true;
        }
    }
    closedir(proc);
    return false;
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
