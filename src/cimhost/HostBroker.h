// The broker the embedded CIMOM host hands to a provider: a CMPIBroker with
// working bft, eft and xft tables, the scope for objects that live as long
// as the broker, the indication queue, the provider threads, fault injection
// and call counters.
#pragma once

#include "IndicationQueue.h"
#include "ThreadTracker.h"

#include <cmpift.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>

namespace cimhost {

struct BrokerCounters {
    std::size_t preparedContexts = 0;
    std::size_t attaches = 0;
    std::size_t detaches = 0;
    std::size_t deliveries = 0;         // accepted deliverIndication calls
    std::size_t refusedDeliveries = 0;  // refused by fault injection
    std::size_t threadsStarted = 0;
    std::size_t threadsRefused = 0;     // newThread refused by fault injection
    std::size_t setPropertyCalls = 0;   // instance setProperty calls
    std::size_t unsupportedCalls = 0;   // calls of slots this host does not serve
};

class HostBroker {
public:
    // nullThreadSlots: leave joinThread, exitThread, cancelThread, threadSleep
    // and signalCondition NULL in xft, as a widely used CIMOM does.
    explicit HostBroker(bool nullThreadSlots = true);
    ~HostBroker();
    HostBroker(const HostBroker&) = delete;
    HostBroker& operator=(const HostBroker&) = delete;

    const CMPIBroker* cmpi() const { return &broker_; }
    static HostBroker* From(const CMPIBroker* mb);

    // Objects living as long as the broker (clones, prepared contexts).
    std::uint64_t scope() const { return scope_; }
    // Where objects made by the calling thread go: its request or attach
    // scope when it belongs to this broker, else scope().
    std::uint64_t objectScope() const;
    std::size_t scopeObjectCount() const;

    // Fault injection.
    // Refuse the n-th instance setProperty call from now on (1 = the next);
    // 0 disarms.
    void failSetPropertyAt(unsigned n, CMPIrc rc = CMPI_RC_ERR_FAILED);
    // Counts one setProperty call; returns the code to refuse it with, or OK.
    CMPIrc setPropertyFault();
    void refuseDeliver(bool on, CMPIrc rc = CMPI_RC_ERR_FAILED);
    // Hold every deliverIndication call this long before it is served (a
    // slow listener); zero serves at once.
    void delayDeliver(std::chrono::milliseconds delay);
    void failAttach(bool on, CMPIrc rc = CMPI_RC_ERR_FAILED);
    void failNewThread(bool on);

    IndicationQueue& indications() { return indications_; }
    ThreadTracker& threads() { return threads_; }
    BrokerCounters counters() const;

    // Attach bookkeeping (used by contexts).
    bool isAttachScope(std::uint64_t scope) const;
    void endAttachScope(std::uint64_t scope);

private:
    friend struct BrokerTables;

    static constexpr std::uint32_t kMagic = 0x43494d48; // "CIMH"

    std::uint32_t magic_ = kMagic;
    CMPIBrokerFT bft_;
    CMPIBrokerEncFT eft_;
    CMPIBrokerExtFT xft_;
    CMPIBroker broker_;
    std::uint64_t scope_ = 0;

    IndicationQueue indications_;
    ThreadTracker threads_;

    mutable std::mutex mutex_; // guards the fields below
    std::set<std::uint64_t> attachScopes_;
    std::set<void*> mutexes_;
    std::set<void*> conditions_;
    BrokerCounters counters_;
    unsigned failSetPropertyIn_ = 0;
    CMPIrc failSetPropertyRc_ = CMPI_RC_ERR_FAILED;
    bool refuseDeliver_ = false;
    std::chrono::milliseconds deliverDelay_{0};
    CMPIrc refuseDeliverRc_ = CMPI_RC_ERR_FAILED;
    bool failAttach_ = false;
    CMPIrc failAttachRc_ = CMPI_RC_ERR_FAILED;
    bool failNewThread_ = false;
};

} // namespace cimhost
