#include "ProcessStats.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

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

int ProcessStats::openDescriptors(const std::string& ignoredPrefix)
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        if (!ignoredPrefix.empty()) {
            char target[4096];
            std::string link = std::string("/proc/self/fd/") + entry->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof(target));
            if (n > 0 && std::string(target, static_cast<size_t>(n)).compare(0, ignoredPrefix.size(),
                                                                            ignoredPrefix) == 0) {
                continue;
            }
        }
        ++count;
    }
    closedir(dir);
    return count - 1;
}

namespace {
// The size attribute of the last element of malloc_info's output that
// starts with `element`.
long LastSize(const std::string& xml, const std::string& element)
{
    size_t at = xml.rfind(element);
    if (at == std::string::npos) {
        return -1;
    }
    size_t size = xml.find("size=\"", at);
    return size == std::string::npos ? -1 : std::strtol(xml.c_str() + size + 6, nullptr, 10);
}
}  // namespace

long ProcessStats::heapInUseBytes()
{
    char* buffer = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&buffer, &length);
    if (stream == nullptr) {
        return -1;
    }
    int rc = malloc_info(0, stream);
    fclose(stream);
    std::string xml(buffer != nullptr ? buffer : "", length);
    free(buffer);
    if (rc != 0) {
        return -1;
    }
    // The totals after the last heap: free chunks in fast bins and in the
    // other bins, memory from the system, and mmapped chunks.
    std::string totals = xml.substr(xml.rfind("</heap>") == std::string::npos ? 0 : xml.rfind("</heap>"));
    long fast = LastSize(totals, "<total type=\"fast\"");
    long rest = LastSize(totals, "<total type=\"rest\"");
    long mmapped = LastSize(totals, "<total type=\"mmap\"");
    long system = LastSize(totals, "<system type=\"current\"");
    if (fast < 0 || rest < 0 || mmapped < 0 || system < 0) {
        return -1;
    }
    return system - fast - rest + mmapped;
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
