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

namespace {

// One line of /proc/self/maps, or a mapping's header line in smaps:
// "start-end perms offset dev inode [path]".
struct Mapping {
    unsigned long start = 0;
    unsigned long end = 0;
    std::string perms;
    std::string path;

    bool parse(const std::string& line)
    {
        unsigned long offset = 0, inode = 0;
        char permText[5] = {};
        char device[16] = {};
        int pathAt = 0;
        if (sscanf(line.c_str(), "%lx-%lx %4s %lx %15s %lu %n", &start, &end, permText, &offset, device, &inode,
                   &pathAt) != 6) {
            return false;
        }
        perms = permText;
        path = line.substr(static_cast<size_t>(pathAt));
        return true;
    }
    bool readWrite() const { return perms.compare(0, 2, "rw") == 0; }
    // The page below a thread stack.
    bool guard() const { return path.empty() && perms == "---p" && end - start == 4096; }
};

}  // namespace

std::map<std::string, long> ProcessStats::residentByMapping()
{
    // malloc's arenas other than the main one are heaps of 64 MiB aligned
    // to their size; a thread stack sits right above its guard page.
    const unsigned long kArenaHeap = 64ul << 20;
    std::map<std::string, long> resident;
    std::ifstream smaps("/proc/self/smaps");
    std::string line, name;
    Mapping mapping;
    bool afterGuard = false;
    while (std::getline(smaps, line)) {
        if (line.compare(0, 4, "Rss:") == 0) {
            resident[name] += std::strtol(line.c_str() + 4, nullptr, 10);
            continue;
        }
        if (!mapping.parse(line)) {
            continue;
        }
        const std::string& path = mapping.path;
        if (!path.empty()) {
            name = path[0] == '[' ? path : path.substr(path.rfind('/') + 1);
        } else if (mapping.readWrite() && afterGuard) {
            name = "[thread stacks]";
        } else if (mapping.readWrite() && mapping.start % kArenaHeap == 0) {
            name = "[malloc arenas]";
        } else {
            name = "[anon]";
        }
        afterGuard = mapping.guard();
    }
    return resident;
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

namespace {
std::string MallocInfo()
{
    char* buffer = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&buffer, &length);
    if (stream == nullptr) {
        return std::string();
    }
    int rc = malloc_info(0, stream);
    fclose(stream);
    std::string xml(buffer != nullptr ? buffer : "", length);
    free(buffer);
    return rc == 0 ? xml : std::string();
}
}  // namespace

int ProcessStats::mallocArenas()
{
    const std::string xml = MallocInfo();
    int count = 0;
    for (size_t at = xml.find("<heap nr="); at != std::string::npos; at = xml.find("<heap nr=", at + 1)) {
        ++count;
    }
    return count;
}

int ProcessStats::threadStacks()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    Mapping mapping;
    int count = 0;
    bool afterGuard = false;
    while (std::getline(maps, line)) {
        if (!mapping.parse(line)) {
            afterGuard = false;
            continue;
        }
        if (afterGuard && mapping.path.empty() && mapping.readWrite()) {
            ++count;
        }
        afterGuard = mapping.guard();
    }
    return count;
}

long ProcessStats::heapInUseBytes()
{
    const std::string xml = MallocInfo();
    if (xml.empty()) {
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
