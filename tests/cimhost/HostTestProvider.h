// Counters the test provider exports (HostTestProvider_Stats) so that tests
// can see what it did inside the host.
#pragma once

#include <atomic>

struct HostTestProviderStats {
    std::atomic<int> instanceFactoryCalls{0};
    std::atomic<int> indicationFactoryCalls{0};
    std::atomic<int> instanceCleanups{0};
    std::atomic<int> indicationCleanups{0};
    std::atomic<int> threadsStarted{0};
    std::atomic<int> threadsRunning{0};
    std::atomic<int> newThreadFailures{0};
    std::atomic<int> attachFailures{0};
    std::atomic<int> deliverFailures{0};
    std::atomic<int> lastDeliverRc{0};
    std::atomic<int> delivered{0};
    std::atomic<int> activeFilters{0};
    std::atomic<int> enabled{0};
};

using HostTestProviderStatsFn = HostTestProviderStats* (*)();
