// Indications delivered by a provider, in arrival order. Thread-safe.
#pragma once

#include "HostInstance.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace cimhost {

struct HostIndication {
    std::string nameSpace; // as passed to deliverIndication
    HostInstance instance; // the indication (its class is the indication class)
    bool attached = false; // delivered from a thread attached to the broker
};

class IndicationQueue {
public:
    using Listener = std::function<void(const HostIndication&)>;

    void push(HostIndication indication);
    // Waits until at least count indications are queued; false on timeout.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const;
    std::vector<HostIndication> take();        // removes and returns every queued one
    std::vector<HostIndication> snapshot() const;
    std::size_t size() const;
    std::size_t total() const; // delivered since the queue was made

    // Called on the delivering thread for each indication, before queuing.
    void setListener(Listener listener);

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<HostIndication> queue_;
    std::size_t total_ = 0;
    Listener listener_;
};

} // namespace cimhost
