// Churn soak: four emulated monitors come and go, one at a time, while the
// embedded CIMOM host has the provider loaded with an active filter on both
// lifecycle classes and indications enabled. After every plug or unplug one
// enumerate-instances request runs. Every arrival must give exactly one
// CIM_InstCreation and every departure exactly one CIM_InstDeletion, the
// answers must match the bus, and neither resident memory nor open
// descriptors may grow once the process has warmed up.
//
// The number of events comes from --events=N (or PNLMON_SOAK_EVENTS);
// the default, 500, is the CI run. A run of at least 10 000 events also
// holds resident memory to 1 % of its size after the first 100 events.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "ProcessStats.h"
#include "SoakMonitor.h"
#include "Watchdog.h"

using cimhost::CimHost;
using cimhost::HostValue;
using usbemu::EmulatedBus;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";
const long kWarmupEvents = 100;
const long kLongRunEvents = 10000;

std::string Text(const cimhost::HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->text : std::string();
}

// Points standard output at /dev/null while alive: the driver writes its
// device counts and change traces there on every enumeration.
class QuietStdout {
public:
    QuietStdout()
    {
        fflush(stdout);
        saved_ = dup(1);
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout()
    {
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

struct Snapshot {
    long rssKiB = 0;
    int fds = 0;
    std::size_t brokerObjects = 0;
};

class SoakTest : public testing::Test {
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

    Snapshot settle()
    {
        host.waitForProviderThreads(std::chrono::seconds(20));
        ProcessStats::trimHeap();
        Snapshot s;
        s.rssKiB = ProcessStats::residentKiB();
        s.fds = ProcessStats::openDescriptors();
        s.brokerObjects = host.longLivedObjects();
        return s;
    }

    CimHost host;
};

}  // namespace

TEST_F(SoakTest, EveryPlugAndUnplugIsIndicatedOnceWithoutGrowth)
{
    const long events = ProcessStats::commandLineNumber("events", "PNLMON_SOAK_EVENTS", 500);
    ASSERT_GT(events, kWarmupEvents) << "--events must exceed " << kWarmupEvents;
    Watchdog watchdog(std::chrono::seconds(120), "churn soak");

    ASSERT_TRUE(host.authorizeFilter("CIM_InstCreation").ok());
    ASSERT_TRUE(host.activateFilter("CIM_InstCreation", true).ok());
    ASSERT_TRUE(host.authorizeFilter("CIM_InstDeletion").ok());
    ASSERT_TRUE(host.activateFilter("CIM_InstDeletion", false).ok());
    ASSERT_TRUE(host.enableIndications());

    std::array<bool, SoakMonitor::kCount> plugged{};
    std::array<long, SoakMonitor::kCount> arrivals{}, departures{}, created{}, deleted{};
    std::vector<std::string> errors;
    auto fail = [&errors](long event, const std::string& what) {
        if (errors.size() < 20) {
            errors.push_back("event " + std::to_string(event) + ": " + what);
        }
    };

    Snapshot warm, end;
    auto start = std::chrono::steady_clock::now();
    auto warmTime = start;
    {
        QuietStdout quiet;
        uint32_t seed = 12345;
        for (long e = 1; e <= events; ++e) {
            seed = seed * 1103515245u + 12345u;
            int m = static_cast<int>((seed >> 16) % SoakMonitor::kCount);
            if (plugged[m]) {
                EmulatedBus::instance().unplug(SoakMonitor::name(m));
                ++departures[m];
            } else {
                EmulatedBus::instance().plug(SoakMonitor::spec(m));
                ++arrivals[m];
            }
            plugged[m] = !plugged[m];

            auto answer = host.enumerateInstances(kNs, kClass);
            std::set<std::string> seen, expected;
            for (const auto& i : answer.instances) {
                seen.insert(Text(i, "DeviceID"));
            }
            for (int k = 0; k < SoakMonitor::kCount; ++k) {
                if (plugged[k]) {
                    expected.insert(SoakMonitor::id(k));
                }
            }
            if (!answer.ok() || !answer.done || seen != expected ||
                answer.instances.size() != expected.size()) {
                fail(e, "enumerateInstances " + CimHost::RcName(answer.status.rc) + " with " +
                            std::to_string(answer.instances.size()) + " instances");
            }

            // The change gives one indication; a second one for the same
            // change would show up here at the next event.
            if (!host.waitForIndications(1, std::chrono::seconds(10))) {
                fail(e, "no indication for " + SoakMonitor::name(m));
            }
            for (const auto& ind : host.indications().take()) {
                const HostValue* source = ind.instance.find("SourceInstance");
                int who = (source != nullptr && source->instance)
                              ? SoakMonitor::indexOf(Text(*source->instance, "DeviceID"))
                              : -1;
                const std::string cls = ind.instance.className();
                if (who < 0 || ind.nameSpace != kNs) {
                    fail(e, "indication without a known SourceInstance");
                    continue;
                }
                if (cls == "CIM_InstCreation") {
                    ++created[who];
                } else if (cls == "CIM_InstDeletion") {
                    ++deleted[who];
                } else {
                    fail(e, "indication of class " + cls);
                }
                if (who != m || (cls == "CIM_InstCreation") != plugged[m]) {
                    fail(e, cls + " for " + SoakMonitor::name(who) + " after a change of " +
                                SoakMonitor::name(m));
                }
            }
            watchdog.kick();
            if (e == kWarmupEvents) {
                warm = settle();
                warmTime = std::chrono::steady_clock::now();
            }
        }
        end = settle();
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    auto afterWarm = std::chrono::steady_clock::now() - warmTime;
    // Nothing may trickle in after the last event.
    EXPECT_TRUE(host.indications().take().empty());

    for (const auto& error : errors) {
        ADD_FAILURE() << error;
    }
    long totalIndications = 0;
    for (int m = 0; m < SoakMonitor::kCount; ++m) {
        EXPECT_EQ(arrivals[m], created[m]) << SoakMonitor::name(m);
        EXPECT_EQ(departures[m], deleted[m]) << SoakMonitor::name(m);
        totalIndications += created[m] + deleted[m];
    }
    EXPECT_EQ(events, totalIndications);

    double rssGrowth = 100.0 * static_cast<double>(end.rssKiB - warm.rssKiB) / warm.rssKiB;
    long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    long msAfterWarm = std::chrono::duration_cast<std::chrono::milliseconds>(afterWarm).count();
    printf("soak: events=%ld time=%ld ms (%.2f ms/event after warm-up)\n", events, ms,
           static_cast<double>(msAfterWarm) / static_cast<double>(events - kWarmupEvents));
    printf("soak: VmRSS after %ld events %ld KiB, at end %ld KiB (%+.2f %%)\n", kWarmupEvents,
           warm.rssKiB, end.rssKiB, rssGrowth);
    printf("soak: open descriptors after %ld events %d, at end %d\n", kWarmupEvents, warm.fds, end.fds);
    printf("soak: broker-lifetime objects after %ld events %zu, at end %zu\n", kWarmupEvents,
           warm.brokerObjects, end.brokerObjects);
    for (int m = 0; m < SoakMonitor::kCount; ++m) {
        printf("soak: %s arrivals=%ld creations=%ld departures=%ld deletions=%ld\n",
               SoakMonitor::name(m).c_str(), arrivals[m], created[m], departures[m], deleted[m]);
    }
    RecordProperty("events", static_cast<int>(events));
    RecordProperty("milliseconds", static_cast<int>(ms));
    RecordProperty("rss_warm_kib", static_cast<int>(warm.rssKiB));
    RecordProperty("rss_end_kib", static_cast<int>(end.rssKiB));

    EXPECT_EQ(warm.fds, end.fds);
    EXPECT_EQ(warm.brokerObjects, end.brokerObjects);
    ASSERT_GT(warm.rssKiB, 0);
    if (events >= kLongRunEvents) {
        EXPECT_LE(end.rssKiB, warm.rssKiB + warm.rssKiB / 100) << "VmRSS grew by " << rssGrowth << " %";
    }
}
