// Eight CIMOM request threads issue mixed instance and indication requests
// while the four emulated monitors come and go. Every request must be
// answered, each with a status from the set its kind allows, and nothing
// may deadlock (a watchdog aborts the run when no request completes for a
// minute). Run under ThreadSanitizer it must also give no report.
//
// Requests per thread come from --requests=N (or PNLMON_CONCURRENCY_REQUESTS);
// the default, 100, is the CI run, 1000 the long one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "ProcessStats.h"
#include "SoakMonitor.h"
#include "Watchdog.h"

using cimhost::CimHost;
using cimhost::HostValue;
using cimhost::RequestResult;
using usbemu::EmulatedBus;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";
const int kThreads = 8;

// The request kinds and the statuses each may be answered with.
enum class Kind {
    EnumNames,       // ein
    EnumInstances,   // ei
    Get,             // gi of one of the four monitors
    EnumWrongNs,     // ein in "root/other"
    EnumWrongCase,   // ei of "qav_display"
    Activate,        // activateFilter on a lifecycle class
    Deactivate,      // deActivateFilter on a lifecycle class
    ActivateOther,   // activateFilter on "CIM_InstModification"
    Authorize,       // authorizeFilter on a lifecycle class
    MustPoll,        // mustPoll
    Enable,          // enableIndications
    Disable,         // disableIndications
    Count
};

const char* KindName(Kind kind)
{
    static const char* const names[] = {"ein", "ei", "gi", "ein wrong namespace", "ei wrong class case",
                                        "activateFilter", "deActivateFilter",
                                        "activateFilter other class", "authorizeFilter", "mustPoll",
                                        "enableIndications", "disableIndications"};
    return names[static_cast<int>(kind)];
}

std::set<CMPIrc> Allowed(Kind kind)
{
    switch (kind) {
    case Kind::Get:
        return {CMPI_RC_OK, CMPI_RC_ERR_NOT_FOUND};  // NOT_FOUND: the monitor is away
    case Kind::EnumWrongNs:
        return {CMPI_RC_ERR_INVALID_NAMESPACE};
    case Kind::EnumWrongCase:
    case Kind::ActivateOther:
        return {CMPI_RC_ERR_INVALID_CLASS};
    case Kind::MustPoll:
        return {CMPI_RC_ERR_NOT_SUPPORTED};
    default:
        return {CMPI_RC_OK};
    }
}

std::string Text(const cimhost::HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->text : std::string();
}

// Instance requests pass the gate together; the churn's plain unplugs pass
// it alone, and once one waits no new request enters.
class RequestGate {
public:
    class Shared {
    public:
        explicit Shared(RequestGate& gate) : gate_(&gate)
        {
            std::unique_lock<std::mutex> lock(gate_->mutex_);
            gate_->changed_.wait(lock, [this] { return !gate_->exclusiveWaiting_; });
            ++gate_->inFlight_;
        }
        ~Shared() { release(); }
        void release()
        {
            if (gate_ == nullptr) {
                return;
            }
            std::lock_guard<std::mutex> lock(gate_->mutex_);
            --gate_->inFlight_;
            gate_->changed_.notify_all();
            gate_ = nullptr;
        }

    private:
        RequestGate* gate_;
    };

    template <typename Body>
    void exclusive(Body body)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        exclusiveWaiting_ = true;
        changed_.wait(lock, [this] { return inFlight_ == 0; });
        body();
        exclusiveWaiting_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int inFlight_ = 0;
    bool exclusiveWaiting_ = false;
};

class ConcurrencyTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.load(PNLMON_PROVIDER_PATH, &error)) << error;
    }
    void TearDown() override
    {
        EXPECT_TRUE(host.unload());
        EmulatedBus::instance().unplugAll();
    }

    CimHost host;
};

}  // namespace

TEST_F(ConcurrencyTest, EightThreadsOfMixedRequestsWhileMonitorsChurn)
{
    const long perThread =
        ProcessStats::commandLineNumber("requests", "PNLMON_CONCURRENCY_REQUESTS", 100);
    ASSERT_GT(perThread, 0);
    Watchdog watchdog(std::chrono::seconds(60), "concurrent requests");

    std::mutex errorsLock;
    std::vector<std::string> errors;
    std::map<std::string, std::map<std::string, long>> tally;  // kind -> status -> count
    auto record = [&](Kind kind, const std::string& status, const std::string& problem) {
        std::lock_guard<std::mutex> lock(errorsLock);
        ++tally[KindName(kind)][status];
        if (!problem.empty() && errors.size() < 30) {
            errors.push_back(std::string(KindName(kind)) + ": " + problem);
        }
    };

    // Two monitors are present from the start; the churn then toggles one
    // monitor every few milliseconds until the clients are done.
    EmulatedBus::instance().plug(SoakMonitor::spec(0));
    EmulatedBus::instance().plug(SoakMonitor::spec(1));
    std::atomic<bool> clientsDone{false};
    std::atomic<long> churnEvents{0};
    std::atomic<long> answered{0};
    // Departures take two routes. A monitor told to vanish leaves in the
    // middle of its next exchange, inside some request. A plain unplug waits
    // until no instance request runs: umockdev's preload aborts the process
    // when a node's handler goes away between a client's open() and its
    // first ioctl (a real kernel answers ENODEV), so an unplug must not land
    // inside the driver's libusb_open. Arrivals may land anywhere.
    RequestGate gate;
    std::thread churn([&] {
        uint32_t seed = 777;
        const long period = ProcessStats::commandLineNumber("churn-ms", "PNLMON_CHURN_MS", 5);
        while (!clientsDone) {
            seed = seed * 1103515245u + 12345u;
            int m = static_cast<int>((seed >> 16) % SoakMonitor::kCount);
            const std::string name = SoakMonitor::name(m);
            if (!EmulatedBus::instance().isPlugged(name)) {
                EmulatedBus::instance().plug(SoakMonitor::spec(m));
            } else if (seed % 3 == 0) {
                usbemu::Fault vanish;
                vanish.kind = usbemu::FaultKind::VanishMidExchange;
                EmulatedBus::instance().setFault(name, vanish);
            } else {
                gate.exclusive([&] { EmulatedBus::instance().unplug(name); });
            }
            ++churnEvents;
            std::this_thread::sleep_for(std::chrono::milliseconds(period));
        }
    });

    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            int activeFilters = 0;
            const char* lifecycle = (t % 2 == 0) ? "CIM_InstCreation" : "CIM_InstDeletion";
            uint32_t seed = 1000u + static_cast<uint32_t>(t);
            for (long r = 0; r < perThread; ++r) {
                seed = seed * 1103515245u + 12345u;
                Kind kind = static_cast<Kind>((seed >> 16) % static_cast<uint32_t>(Kind::Count));
                // Filters are balanced per thread: no deactivation without
                // an activation of its own, at most two active.
                if (kind == Kind::Activate && activeFilters >= 2) {
                    kind = Kind::Deactivate;
                } else if (kind == Kind::Deactivate && activeFilters == 0) {
                    kind = Kind::Activate;
                }
                RequestResult result;
                bool instanceRequest = true;
                bool called = true;
                int wanted = static_cast<int>(seed % SoakMonitor::kCount);
                RequestGate::Shared inFlight(gate);
                switch (kind) {
                case Kind::EnumNames:
                    result = host.enumerateInstanceNames(kNs, kClass);
                    break;
                case Kind::EnumInstances:
                    result = host.enumerateInstances(kNs, kClass);
                    break;
                case Kind::Get:
                    result = host.getInstance(kNs, kClass, "DeviceID", SoakMonitor::id(wanted));
                    break;
                case Kind::EnumWrongNs:
                    result = host.enumerateInstanceNames("root/other", kClass);
                    break;
                case Kind::EnumWrongCase:
                    result = host.enumerateInstances(kNs, "qav_display");
                    break;
                default:
                    instanceRequest = false;
                    break;
                }
                inFlight.release();
                switch (kind) {
                case Kind::Activate:
                    result.status = host.activateFilter(lifecycle, activeFilters == 0);
                    activeFilters += result.ok() ? 1 : 0;
                    break;
                case Kind::Deactivate:
                    result.status = host.deActivateFilter(lifecycle, activeFilters == 1);
                    activeFilters -= result.ok() ? 1 : 0;
                    break;
                case Kind::ActivateOther:
                    result.status = host.activateFilter("CIM_InstModification", true);
                    break;
                case Kind::Authorize:
                    result.status = host.authorizeFilter(lifecycle);
                    break;
                case Kind::MustPoll:
                    result.status = host.mustPoll(lifecycle);
                    break;
                case Kind::Enable:
                    called = host.enableIndications();
                    break;
                case Kind::Disable:
                    called = host.disableIndications();
                    break;
                default:
                    break;
                }

                std::string problem;
                if (Allowed(kind).count(result.status.rc) == 0) {
                    problem = "status " + CimHost::RcName(result.status.rc);
                } else if (!called) {
                    problem = "not passed to the provider";
                } else if (instanceRequest && (result.doneCalls != 1 || result.itemsAfterDone != 0)) {
                    problem = "returnDone called " + std::to_string(result.doneCalls) + " times";
                } else if (kind == Kind::Get) {
                    bool found = result.status.rc == CMPI_RC_OK;
                    if (result.instances.size() != (found ? 1u : 0u) ||
                        (found && Text(result.instances[0], "DeviceID") != SoakMonitor::id(wanted))) {
                        problem = "wrong instance for " + SoakMonitor::id(wanted);
                    }
                } else if ((kind == Kind::EnumNames || kind == Kind::EnumInstances) &&
                           result.paths.size() + result.instances.size() > SoakMonitor::kCount) {
                    problem = "more items than monitors";
                }
                record(kind, CimHost::RcName(result.status.rc), problem);
                if (kind == Kind::EnumNames || kind == Kind::EnumInstances) {
                    record(kind, "items=" + std::to_string(result.paths.size() + result.instances.size()), "");
                }
                ++answered;
                watchdog.kick();
            }
            while (activeFilters > 0) {
                auto status = host.deActivateFilter(lifecycle, activeFilters == 1);
                if (!status.ok()) {
                    record(Kind::Deactivate, CimHost::RcName(status.rc), "final deactivation failed");
                }
                --activeFilters;
                watchdog.kick();
            }
        });
    }
    for (auto& c : clients) {
        c.join();
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    clientsDone = true;
    churn.join();

    // Quiet again: one request brings the provider's picture up to date and
    // matches the bus; the indication threads all end.
    auto last = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(last.ok());
    std::set<std::string> present, plugged;
    for (const auto& p : last.paths) {
        present.insert(p.keys.at(0).second.text);
    }
    for (int m = 0; m < SoakMonitor::kCount; ++m) {
        if (EmulatedBus::instance().isPlugged(SoakMonitor::name(m))) {
            plugged.insert(SoakMonitor::id(m));
        }
    }
    EXPECT_EQ(plugged, present);
    EXPECT_TRUE(host.waitForProviderThreads(std::chrono::seconds(30)));
    std::size_t indications = 0;
    for (const auto& ind : host.indications().take()) {
        const HostValue* source = ind.instance.find("SourceInstance");
        EXPECT_TRUE(source != nullptr && source->instance &&
                    SoakMonitor::indexOf(Text(*source->instance, "DeviceID")) >= 0);
        ++indications;
    }

    for (const auto& error : errors) {
        ADD_FAILURE() << error;
    }
    EXPECT_EQ(kThreads * perThread, answered.load());
    long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    printf("concurrency: %d threads x %ld requests in %ld ms, %ld plug/unplug events, %zu indications "
           "delivered\n",
           kThreads, perThread, ms, churnEvents.load(), indications);
    for (const auto& kind : tally) {
        printf("concurrency:   %-28s", kind.first.c_str());
        for (const auto& status : kind.second) {
            printf(" %s=%ld", status.first.c_str(), status.second);
        }
        printf("\n");
    }
    RecordProperty("requests", static_cast<int>(answered.load()));
    RecordProperty("milliseconds", static_cast<int>(ms));
}
