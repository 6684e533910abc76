// Announcing arrivals and departures as they happen ("AnnounceChanges=
// immediate"): the embedded host loads libvexdisplayprov over the real
// driver and emulated monitors, and monitors come and go with no request,
// in the middle of requests, and while a flash utility runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "IndicationChanges.h"
#include "NamedProcess.h"
#include "Sandbox.h"

using cimhost::CimHost;
using usbemu::EmulatedBus;
using usbemu::InventoryFields;
using usbemu::MonitorSpec;
using namespace std::chrono_literals;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";
// Longer than the announcer's settle delay plus a refresh on a loaded machine.
const auto kQuiet = 1500ms;

// A process the driver takes for a monitor firmware-flash utility.
pid_t StartFlasher()
{
    return NamedProcess::Start("/bin/sleep", "kap_config", {"60"});
}

InventoryFields Fields(const std::string& serial)
{
    InventoryFields f;
    f.machine = "7427";
    f.model = "A10";
    f.serialNumber = serial;
    return f;
}

std::string Id(const std::string& serial)
{
    return "7427-A10-" + serial;
}

MonitorSpec Monitor(const std::string& name, const std::string& serial, uint16_t pid = 0x4676)
{
    MonitorSpec spec;
    spec.name = name;
    spec.pid = pid;
    spec.inventory = Fields(serial).bytes();
    return spec;
}

class AnnounceTest : public testing::Test {
protected:
    void SetUp() override { configure("AnnounceChanges=immediate\n"); }

    // Writes pnlmon.conf (empty text: none) and loads the provider, which
    // reads it.
    void configure(const std::string& conf)
    {
        sandbox::ResetSystemFolders();
        if (!conf.empty()) {
            ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", conf));
        }
        std::string error;
        ASSERT_TRUE(host.load(PNLMON_PROVIDER_PATH, &error)) << error;
    }

    void TearDown() override
    {
        EXPECT_TRUE(host.unload());
        EXPECT_EQ(0u, host.broker().threads().running());
        EmulatedBus::instance().unplugAll();
    }

    void subscribe()
    {
        ASSERT_TRUE(host.loadInstanceMI().ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstCreation", true).ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstDeletion", false).ok());
        ASSERT_TRUE(host.enableIndications());
    }

    // The changes announced so far, once announcing has been quiet.
    std::vector<std::string> settled()
    {
        std::this_thread::sleep_for(kQuiet);
        return IndicationChanges::Of(host.indications().take());
    }

    CimHost host;
};

}  // namespace

TEST_F(AnnounceTest, PlugAndPullAreAnnouncedWithoutARequestAndOnlyOnce)
{
    subscribe();
    EXPECT_EQ(1u, host.broker().threads().running());  // the announcer
    EmulatedBus::instance().plug(Monitor("tilo", "1000001"));
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(std::vector<std::string>{"+" + Id("1000001")}, settled());

    // A request afterwards finds nothing new.
    auto names = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(1u, names.paths.size());
    EXPECT_TRUE(settled().empty());

    EmulatedBus::instance().unplug("tilo");
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(std::vector<std::string>{"-" + Id("1000001")}, settled());
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_TRUE(settled().empty());

    // A burst (two monitors, one of them in and out at once) gives one
    // refresh: the one that stayed, and nothing or both for the other.
    EmulatedBus::instance().plug(Monitor("a", "1000002"));
    EmulatedBus::instance().plug(Monitor("b", "1000003", 0x4678));
    EmulatedBus::instance().unplug("b");
    auto burst = settled();
    EXPECT_EQ(1, std::count(burst.begin(), burst.end(), "+" + Id("1000002")));
    EXPECT_EQ(std::count(burst.begin(), burst.end(), "+" + Id("1000003")),
              std::count(burst.begin(), burst.end(), "-" + Id("1000003")));
}

TEST_F(AnnounceTest, KeyAbsentAnnouncesAtTheNextRequestAsBefore)
{
    ASSERT_TRUE(host.unload());
    configure("");
    subscribe();
    EXPECT_EQ(0u, host.broker().threads().running());
    EmulatedBus::instance().plug(Monitor("tilo", "2000001"));
    EXPECT_TRUE(settled().empty());
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(std::vector<std::string>{"+" + Id("2000001")}, settled());

    // An unknown value means the same.
    ASSERT_TRUE(host.unload());
    configure("AnnounceChanges=Immediate\n");
    subscribe();
    EXPECT_EQ(0u, host.broker().threads().running());
}

TEST_F(AnnounceTest, DisableDeactivateAndCleanupEndTheAnnouncer)
{
    subscribe();
    EXPECT_EQ(1u, host.broker().threads().running());
    // Idle checks while announcing: both MIs stay, no count changes.
    EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, host.cleanupInstanceMI(false).rc);
    EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, host.cleanupIndicationMI(false).rc);
    EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, host.cleanupInstanceMI(false).rc);
    EXPECT_TRUE(host.instanceMILoaded());
    EXPECT_EQ(1u, host.instanceFactoryCalls());
    EmulatedBus::instance().plug(Monitor("tilo", "3000001"));
    ASSERT_TRUE(host.waitForIndications(1, 10s));  // still announcing

    ASSERT_TRUE(host.disableIndications());
    EXPECT_TRUE(host.waitForProviderThreads(5s));
    EXPECT_EQ(0u, host.broker().threads().running());
    ASSERT_TRUE(host.enableIndications());
    EXPECT_EQ(1u, host.broker().threads().running());
    ASSERT_TRUE(host.deActivateFilter("CIM_InstDeletion", false).ok());
    EXPECT_EQ(1u, host.broker().threads().running());  // one filter left
    ASSERT_TRUE(host.deActivateFilter("CIM_InstCreation", true).ok());
    EXPECT_TRUE(host.waitForProviderThreads(5s));
    // Not announcing: once the indication MI has gone, the instance MI's
    // idle cleanup is accepted again.
    EXPECT_EQ(CMPI_RC_OK, host.cleanupIndicationMI(true).rc);
    EXPECT_EQ(CMPI_RC_OK, host.cleanupInstanceMI(false).rc);
    host.indications().take();
}

TEST_F(AnnounceTest, FlashUtilityAcrossAPlugIsAnnouncedAfterItEnds)
{
    subscribe();
    pid_t flasher = StartFlasher();
    ASSERT_GT(flasher, 0);
    EmulatedBus::instance().plug(Monitor("flashed", "4000001"));
    std::this_thread::sleep_for(2500ms);  // two retries
    EXPECT_EQ(0u, host.indications().size());
    EXPECT_EQ(0, EmulatedBus::instance().opens("flashed"));  // no USB access meanwhile
    NamedProcess::Stop(flasher);
    ASSERT_TRUE(host.waitForIndications(1, 5s));
    EXPECT_EQ(std::vector<std::string>{"+" + Id("4000001")}, settled());
}

TEST_F(AnnounceTest, TerminatingCleanupWhileARefreshRuns)
{
    subscribe();
    for (int round = 0; round < 3; ++round) {
        // The OSD read of the new monitor waits for its timeout, so the
        // refresh is still running at the cleanup.
        MonitorSpec slow = Monitor("slow", "500000" + std::to_string(round));
        EmulatedBus::instance().plug(slow);
        usbemu::Fault fault;
        fault.kind = usbemu::FaultKind::ReadTimeout;
        fault.command = usbemu::Command::Osd;
        EmulatedBus::instance().setFault("slow", fault);
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 100 * round));
        EXPECT_TRUE(host.unload());
        EXPECT_EQ(0u, host.broker().threads().running());
        EmulatedBus::instance().unplugAll();
        std::string error;
        ASSERT_TRUE(host.load(PNLMON_PROVIDER_PATH, &error)) << error;
        subscribe();
    }
}

TEST_F(AnnounceTest, RandomPlugsPullsAndRequestsAlternatePerMonitor)
{
    subscribe();
    const int kMonitors = 4;
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 2; ++t) {
        clients.emplace_back([&, t] {
            std::mt19937 random(7 + t);
            while (!stop) {
                cimhost::RequestResult r;
                switch (random() % 3) {
                case 0:
                    r = host.enumerateInstanceNames(kNs, kClass);
                    break;
                case 1:
                    r = host.enumerateInstances(kNs, kClass);
                    break;
                default:
                    r = host.getInstance(kNs, kClass, "DeviceID", Id("600000" + std::to_string(random() % 4)));
                    if (r.status.rc == CMPI_RC_ERR_NOT_FOUND) {
                        r.status.rc = CMPI_RC_OK;
                    }
                    break;
                }
                failures += r.ok() && r.done ? 0 : 1;
                ++requests;
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
            }
        });
    }
    // Pulls land anywhere, also in the middle of exchanges; some monitors
    // come and go within the settle delay.
    std::mt19937 random(12345);
    int changes = 0;
    for (auto until = std::chrono::steady_clock::now() + 8s; std::chrono::steady_clock::now() < until;) {
        int m = static_cast<int>(random() % kMonitors);
        std::string name = "m" + std::to_string(m);
        if (EmulatedBus::instance().isPlugged(name)) {
            EmulatedBus::instance().unplug(name);
        } else {
            EmulatedBus::instance().plug(
                Monitor(name, "600000" + std::to_string(m), static_cast<uint16_t>(0x4676 + m)));
        }
        ++changes;
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    }
    stop = true;
    for (auto& c : clients) {
        c.join();
    }
    auto all = settled();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(requests.load(), 10);

    // Per monitor: creations and deletions match the net change (the
    // deliveries run on threads of their own, so their order is not kept).
    auto last = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(last.ok());
    std::set<std::string> present;
    for (const auto& p : last.paths) {
        present.insert(p.keys[0].second.text);
    }
    EXPECT_TRUE(settled().empty());  // the quiet request found nothing new
    for (int m = 0; m < kMonitors; ++m) {
        std::string id = Id("600000" + std::to_string(m));
        bool plugged = EmulatedBus::instance().isPlugged("m" + std::to_string(m));
        EXPECT_EQ(plugged, present.count(id) == 1) << id;
        long creations = std::count(all.begin(), all.end(), "+" + id);
        long deletions = std::count(all.begin(), all.end(), "-" + id);
        EXPECT_EQ(creations, deletions + (plugged ? 1 : 0)) << id;
    }
    RecordProperty("changes", changes);
    RecordProperty("requests", requests.load());
    RecordProperty("indications", static_cast<int>(all.size()));
}

// ---------------------------------------------------------------------------
// The baseline: a CIM object manager restarted with its stored
// subscriptions (factories, activateFilter twice, enableIndications, no
// request) announces only the changes after the restart.
// ---------------------------------------------------------------------------

namespace {

std::string LogText()
{
    std::string text;
    sandbox::ReadFile("/var/log/pnlmon/pnlmon.log", text);
    return text;
}

}  // namespace

TEST_F(AnnounceTest, RestartWithStoredSubscriptionsAnnouncesOnlyTheNextPlug)
{
    EmulatedBus::instance().plug(Monitor("a", "7000001"));
    EmulatedBus::instance().plug(Monitor("b", "7000002", 0x4678));
    // The first start of the object manager and two restarts, one of them
    // with a monitor pulled while it was down.
    for (int start = 0; start < 3; ++start) {
        auto status = host.restartWithSubscriptions(
            start == 2 ? [] { EmulatedBus::instance().unplug("b"); } : std::function<void()>());
        ASSERT_TRUE(status.ok()) << status.message;
        EXPECT_EQ(1u, host.broker().threads().running()) << "start " << start;  // the announcer
        EXPECT_TRUE(settled().empty()) << "start " << start;
    }
    EmulatedBus::instance().plug(Monitor("c", "7000003", 0x4677));
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(std::vector<std::string>{"+" + Id("7000003")}, settled());
    auto names = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(2u, names.paths.size());  // a and c; b left unannounced
    EXPECT_TRUE(settled().empty());
    EXPECT_NE(std::string::npos, LogText().find("baseline taken: 2 monitor(s) attached, not announced"));
}

TEST_F(AnnounceTest, OnRequestTheFirstRequestAfterARestartAnnouncesNothing)
{
    ASSERT_TRUE(host.unload());
    configure("");
    EmulatedBus::instance().plug(Monitor("a", "7100001"));
    EmulatedBus::instance().plug(Monitor("b", "7100002", 0x4678));
    ASSERT_TRUE(host.restartWithSubscriptions().ok());
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_TRUE(settled().empty());

    // Pulled while down, another plugged while down: neither is announced
    // at the next start's first request.
    ASSERT_TRUE(host.restartWithSubscriptions([] {
                        EmulatedBus::instance().unplug("a");
                        EmulatedBus::instance().plug(Monitor("c", "7100003", 0x4677));
                    }).ok());
    auto first = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(2u, first.paths.size());
    EXPECT_TRUE(settled().empty());

    // Real changes after the restart: one indication each.
    EmulatedBus::instance().unplug("b");
    EmulatedBus::instance().plug(Monitor("a", "7100001"));
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(2, 10s));
    auto changes = settled();
    std::sort(changes.begin(), changes.end());
    EXPECT_EQ((std::vector<std::string>{"+" + Id("7100001"), "-" + Id("7100002")}), changes);
}

TEST_F(AnnounceTest, AFlashUtilityAtTheRestartDefersTheBaseline)
{
    EmulatedBus::instance().plug(Monitor("a", "7200001"));
    ASSERT_TRUE(host.restartWithSubscriptions().ok());
    pid_t flasher = 0;
    // The object manager comes back while the utility runs: the bus cannot
    // be listed, so the first enumeration after it is the baseline.
    auto status = host.restartWithSubscriptions([&flasher] { flasher = StartFlasher(); });
    ASSERT_TRUE(status.ok()) << status.message;
    std::this_thread::sleep_for(1500ms);  // a retry while the utility runs
    ASSERT_GT(flasher, 0);
    NamedProcess::Stop(flasher);
    EXPECT_TRUE(settled().empty());
    std::this_thread::sleep_for(1s);  // the announcer's retry after the utility
    EXPECT_TRUE(settled().empty());
    std::string log = LogText();
    size_t deferred = log.find("baseline not taken at the first subscription: a flash utility runs");
    ASSERT_NE(std::string::npos, deferred);
    EXPECT_NE(std::string::npos, log.find("baseline taken: 1 monitor(s) attached", deferred));

    EmulatedBus::instance().plug(Monitor("b", "7200002", 0x4678));
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(std::vector<std::string>{"+" + Id("7200002")}, settled());

    // The same with announcements at requests: the first request after the
    // utility ended announces nothing.
    ASSERT_TRUE(host.unload());
    configure("");
    ASSERT_TRUE(host.restartWithSubscriptions([&flasher] { flasher = StartFlasher(); }).ok());
    auto during = host.enumerateInstanceNames(kNs, kClass);
    EXPECT_TRUE(during.ok());
    EXPECT_TRUE(during.paths.empty());
    ASSERT_GT(flasher, 0);
    NamedProcess::Stop(flasher);
    auto after = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(2u, after.paths.size());
    EXPECT_TRUE(settled().empty());
}

TEST_F(AnnounceTest, IdleUnloadWithSubscriptionsActiveKeepsTheBaseline)
{
    for (const char* conf : {"AnnounceChanges=immediate\n", ""}) {
        ASSERT_TRUE(host.unload());
        configure(conf);
        EmulatedBus::instance().unplugAll();
        EmulatedBus::instance().plug(Monitor("a", "7300001"));
        ASSERT_TRUE(host.restartWithSubscriptions().ok());
        // The object manager tries to unload the idle provider: refused while
        // subscriptions are active, and nothing is announced for it.
        EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, host.idleUnload().rc) << conf;
        EXPECT_TRUE(host.indicationMILoaded());
        ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
        EXPECT_TRUE(settled().empty()) << conf;
        EmulatedBus::instance().plug(Monitor("b", "7300002", 0x4678));
        ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
        ASSERT_TRUE(host.waitForIndications(1, 10s));
        EXPECT_EQ(std::vector<std::string>{"+" + Id("7300002")}, settled()) << conf;
        // Reloaded by a restart: still no creation for the two that stayed.
        ASSERT_TRUE(host.restartWithSubscriptions().ok());
        ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
        EXPECT_TRUE(settled().empty()) << conf;
    }
}
