// The monitors the enumeration benchmarks run against: the emulated bus
// emptied, then COUNT monitors named m0, m1, ... with serial numbers
// 0000000, 0000001, ... plugged in.
#ifndef PNLMON_BENCH_NUMBEREDMONITORS_H
#define PNLMON_BENCH_NUMBEREDMONITORS_H

class NumberedMonitors {
public:
    static void Plug(int count);
};

#endif
