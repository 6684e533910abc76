#include "ProcessStats.h"

#include <dirent.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

long ProcessStats::residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

int ProcessStats::openDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count - 1;
}

void ProcessStats::trimHeap()
{
    malloc_trim(0);
}

long ProcessStats::commandLineNumber(const std::string& name, const char* envName, long fallback)
{
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    const std::string prefix = "--" + name + "=";
    while (std::getline(cmdline, arg, '\0')) {
        if (arg.compare(0, prefix.size(), prefix) == 0) {
            return std::strtol(arg.c_str() + prefix.size(), nullptr, 10);
        }
    }
    const char* env = envName != nullptr ? std::getenv(envName) : nullptr;
    if (env != nullptr && *env != '\0') {
        return std::strtol(env, nullptr, 10);
    }
    return fallback;
}
