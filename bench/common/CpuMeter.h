// CPU time of the calling thread (user + system), and per-thread sums of the
// CPU time spent inside metered calls (see LibusbMeter.cpp).
#ifndef PNLMON_BENCH_CPUMETER_H
#define PNLMON_BENCH_CPUMETER_H

#include <cstdint>

class CpuMeter {
public:
    // CPU time of the calling thread, in seconds.
    static double ThreadSeconds();

    // Time the calling thread has spent inside metered calls so far, and the
    // number of such calls.
    static double MeteredSeconds();
    static uint64_t MeteredCalls();

    // Adds one metered call (used by the wrappers).
    static void Add(double seconds);

    // What one metered call costs the caller beyond the call itself (the two
    // clock reads): measured once, in seconds.
    static double OverheadPerCall();

    // Starts and ends one metered call; nests (only the outermost counts, so
    // that a metered function calling another is not counted twice).
    class Scope {
    public:
        Scope();
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        double start;
        bool outer;
    };
};

#endif
