#include "CpuMeter.h"

#include <time.h>

namespace {
thread_local double t_metered = 0;
thread_local uint64_t t_calls = 0;
thread_local int t_depth = 0;
}  // namespace

double CpuMeter::ThreadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double CpuMeter::MeteredSeconds()
{
    return t_metered;
}

uint64_t CpuMeter::MeteredCalls()
{
    return t_calls;
}

void CpuMeter::Add(double seconds)
{
    t_metered += seconds;
    ++t_calls;
}

double CpuMeter::OverheadPerCall()
{
    static const double overhead = []() {
        const int rounds = 20000;
        double before = ThreadSeconds();
        double sink = 0;
        for (int i = 0; i < rounds; ++i) {
            sink += ThreadSeconds();
            sink -= ThreadSeconds();
        }
        double after = ThreadSeconds();
        (void)sink;
        return (after - before) / rounds;
    }();
    return overhead;
}

CpuMeter::Scope::Scope() : start(0), outer(t_depth++ == 0)
{
    if (outer) {
        start = ThreadSeconds();
    }
}

CpuMeter::Scope::~Scope()
{
    --t_depth;
    if (outer) {
        Add(ThreadSeconds() - start);
    }
}
