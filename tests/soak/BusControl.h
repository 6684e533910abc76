// Plugs and unplugs of the soak monitors (SoakMonitor) for a host that may
// run in a forked child. Local: done right here. Served: the child asks over
// two pipes, and a thread of this process (which keeps the emulated bus)
// does them. Construct it before forking.
#pragma once

#include <atomic>
#include <thread>

class BusControl {
public:
    explicit BusControl(bool served);
    ~BusControl();
    BusControl(const BusControl&) = delete;
    BusControl& operator=(const BusControl&) = delete;

    // In the process that holds the host (the child, when served): plugs
    // (true) or unplugs (false) soak monitor m. False when the bus refused.
    bool set(int m, bool plug);

private:
    void serve();

    bool served_;
    int requests_[2] = {-1, -1};
    int replies_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread server_;
};
