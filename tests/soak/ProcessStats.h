// Resource figures of the running process, read from /proc/self.
#pragma once

#include <cstddef>
#include <map>
#include <string>

class ProcessStats {
public:
    // VmRSS from /proc/self/status in KiB, -1 when it cannot be read.
    static long residentKiB();
    // Resident KiB per kind of mapping, from /proc/self/smaps: the file a
    // mapping shows (its base name), "[heap]", "[stack]", or "[anon]" for
    // anonymous memory (thread stacks, other malloc arenas, mmap).
    static std::map<std::string, long> residentByMapping();
    // Entries of /proc/self/fd (the directory's own descriptor not counted),
    // leaving out those whose target starts with `ignoredPrefix` (if given).
    static int openDescriptors(const std::string& ignoredPrefix = std::string());
    // Bytes of heap in live allocations, summed over every malloc arena
    // (from malloc_info), -1 when it cannot be read.
    static long heapInUseBytes();
    // Number of malloc arenas (the main one and those made for threads).
    static int mallocArenas();
    // Number of thread stacks mapped, live or kept in the C library's cache
    // of stacks of ended threads (anonymous mappings behind a guard page).
    static int threadStacks();
    // Returns freed heap memory to the system, so that resident-size
    // comparisons see leaks rather than allocator caching.
    static void trimHeap();
    // The value of "--name=N" on the command line (read from
    // /proc/self/cmdline, so it survives the test main's re-execution), or
    // the environment variable envName, or fallback.
    static long commandLineNumber(const std::string& name, const char* envName, long fallback);
};
