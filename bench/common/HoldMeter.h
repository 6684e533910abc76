// How long monitors are held: the wall time from a successful libusb_open
// to the libusb_close of the same handle, summed per process (see
// LibusbMeter.cpp, whose wrappers call it).
#ifndef PNLMON_BENCH_HOLDMETER_H
#define PNLMON_BENCH_HOLDMETER_H

#include <cstdint>

class HoldMeter {
public:
    static void Opened(const void* handle);
    static void Closed(const void* handle);

    // Seconds held in all, and the number of open-close spans, so far.
    static double HeldSeconds();
    static uint64_t Holds();
    // The longest single span so far, in seconds.
    static double LongestSeconds();
    // Starts the longest hold afresh (each benchmark reports its own).
    static void ResetLongest();
};

#endif
