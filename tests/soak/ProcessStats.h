// Resource figures of the running process, read from /proc/self.
#pragma once

#include <cstddef>
#include <string>

class ProcessStats {
public:
    // VmRSS from /proc/self/status in KiB, -1 when it cannot be read.
    static long residentKiB();
    // Entries of /proc/self/fd (the directory's own descriptor not counted),
    // leaving out those whose target starts with `ignoredPrefix` (if given).
    static int openDescriptors(const std::string& ignoredPrefix = std::string());
    // Bytes of heap in live allocations, summed over every malloc arena
    // (from malloc_info), -1 when it cannot be read.
    static long heapInUseBytes();
    // Returns freed heap memory to the system, so that resident-size
    // comparisons see leaks rather than allocator caching.
    static void trimHeap();
    // The value of "--name=N" on the command line (read from
    // /proc/self/cmdline, so it survives the test main's re-execution), or
    // the environment variable envName, or fallback.
    static long commandLineNumber(const std::string& name, const char* envName, long fallback);
};
