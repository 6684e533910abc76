// The provider as a CIMOM sees it: the embedded host loads
// libvexdisplayprov, which enumerates emulated monitors through the real
// driver. Instance contents, the status table, lifecycle indications, and
// concurrent requests while monitors come and go.
#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "NamedProcess.h"
#include "Sandbox.h"
#include "display.h"

using cimhost::CimHost;
using cimhost::HostInstance;
using cimhost::HostValue;
using usbemu::EmulatedBus;
using usbemu::InventoryFields;
using usbemu::MonitorSpec;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";

MonitorSpec Monitor(const std::string& name, uint16_t pid, const InventoryFields& fields)
{
    MonitorSpec spec;
    spec.name = name;
    spec.pid = pid;
    spec.inventory = fields.bytes();
    return spec;
}

InventoryFields Fields(const std::string& machine, const std::string& model,
                       const std::string& serial)
{
    InventoryFields f;
    f.machine = machine;
    f.model = model;
    f.serialNumber = serial;
    return f;
}

std::string Id(const InventoryFields& f)
{
    return f.machine + "-" + f.model + "-" + f.serialNumber;
}

std::string Text(const HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->text : "<missing>";
}

uint64_t Number(const HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->uint : ~0ull;
}

// Every property of an instance against the driver's own record of the
// same monitor.
void ExpectMatchesRecord(const HostInstance& i, const DisplayInformation& r)
{
    std::string id = r.physicalDeviceName + "-" + r.modelName + "-" + r.serialNumber;
    ASSERT_EQ(36u, i.properties.size());
    EXPECT_EQ(id, Text(i, "DeviceID"));
    EXPECT_EQ(r.bus, Text(i, "Bus"));
    EXPECT_EQ(r.deviceCategory, Text(i, "DeviceCategory"));
    EXPECT_EQ(r.firmwareRevision, Text(i, "FirmwareRevision"));
    EXPECT_EQ(r.manufactureDate, Text(i, "ManufactureDate"));
    EXPECT_EQ(r.manufacturerName, Text(i, "ManufacturerName"));
    EXPECT_EQ(r.mechanicalRevision, Text(i, "MechanicalRevision"));
    EXPECT_EQ(r.physicalDeviceName, Text(i, "PhysicalDeviceName"));
    EXPECT_EQ(r.modelName, Text(i, "ModelName"));
    EXPECT_EQ(r.serialNumber, Text(i, "SerialNumber"));
    EXPECT_EQ(r.horizontalScreenSize, Number(i, "HorizontalScreenSize"));
    EXPECT_EQ(r.verticalScreenSize, Number(i, "VerticalScreenSize"));
    EXPECT_EQ(r.horizontalResolution, Number(i, "HorizontalResolution"));
    EXPECT_EQ(r.verticalResolution, Number(i, "VerticalResolution"));
    EXPECT_EQ(r.refreshRate, Number(i, "RefreshRate"));
    EXPECT_EQ(r.supportedResolutionsAndRefreshRates,
              i.find("SupportedResolutionsAndRefreshRates")->texts());
    EXPECT_EQ(r.preferredResolutionAndRefreshRate, Text(i, "PreferredResolutionAndRefreshRate"));
    EXPECT_EQ(r.displayTechnology, Number(i, "DisplayTechnology"));
    EXPECT_EQ(r.scanMode, Number(i, "ScanMode"));
    EXPECT_EQ(r.supportsColor, i.find("SupportsColor")->boolean);
    EXPECT_EQ(r.supportedVideoSources, i.find("SupportedVideoSources")->texts());
    EXPECT_EQ(r.currentVideoSource, Text(i, "CurrentVideoSource"));
    EXPECT_EQ(r.lightSourceType, Number(i, "LightSourceType"));
    EXPECT_EQ(r.lightSourceIlluminationType, Number(i, "LightSourceIlluminationType"));
    EXPECT_EQ(r.lightSourceCount, Number(i, "LightSourceCount"));
    EXPECT_EQ(r.recommendedBrightnessLevel, Number(i, "RecommendedBrightnessLevel"));
    EXPECT_EQ(r.currentBrightnessLevel, Number(i, "CurrentBrightnessLevel"));
    EXPECT_EQ(r.backlightState, Number(i, "BacklightState"));
    EXPECT_EQ(r.hoursPoweredCount, Number(i, "HoursPoweredCount"));
    EXPECT_EQ(r.currentBacklightPowerOnHours, Number(i, "CurrentBacklightPowerOnHours"));
    EXPECT_EQ(r.powerManagementModes, i.find("PowerManagementModes")->texts());
    EXPECT_EQ("Vostran Display: " + id, Text(i, "Caption"));
    EXPECT_EQ("Vostran Display: " + id, Text(i, "Description"));
    EXPECT_EQ("QAV_Display", Text(i, "CreationClassName"));
    EXPECT_EQ("ComputerSystem", Text(i, "SystemCreationClassName"));
    EXPECT_EQ("Vostran POS Monitor Inventory Drivers", Text(i, "SystemName"));
}

// The driver's records of the attached monitors, by device identifier.
std::map<std::string, DisplayInformation> DriverRecords()
{
    DisplayApi api;
    std::map<std::string, DisplayInformation> byId;
    if (api.initialiseDisplayDriver() != DSP_OK) {
        return byId;
    }
    DisplayInformationList list;
    api.getDisplayInformationList(list);
    for (const DisplayInformation& r : list) {
        byId[r.physicalDeviceName + "-" + r.modelName + "-" + r.serialNumber] = r;
    }
    return byId;
}

class E2eTest : public testing::Test {
protected:
    // The suite writes more than the default 10 MiB at the trace level; the
    // lines a later test looks for must still reach the file.
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/log.conf", "MaxLength=268435456\n"));
    }

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

    void subscribe()
    {
        ASSERT_TRUE(host.authorizeFilter("CIM_InstCreation").ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstCreation", true).ok());
        ASSERT_TRUE(host.authorizeFilter("CIM_InstDeletion").ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstDeletion", false).ok());
        ASSERT_TRUE(host.enableIndications());
    }

    CimHost host;
};

}  // namespace

TEST_F(E2eTest, TwoFamiliesEnumeratedAndFetchedWithEveryProperty)
{
    InventoryFields tilo = Fields("7427", "A10", "1111111");
    tilo.firmwareRevision = "0105";
    tilo.powerOnSeconds = 3600 * 1234 + 59;
    tilo.backlightOnSeconds = 3600 * 321;
    tilo.brightness = 65;
    InventoryFields merv = Fields("7428", "B20", "2222222");
    merv.firmwareRevision = "0207";
    merv.powerOnSeconds = 3600 * 99;
    merv.backlightOnSeconds = 3600 * 98;
    merv.brightness = 100;
    EmulatedBus::instance().plug(Monitor("tilo", 0x4676, tilo));
    EmulatedBus::instance().plug(Monitor("merv", 0x4678, merv));

    // The driver's own view first, while the provider holds no monitor open:
    // two claims of one monitor in one process would not be served.
    auto records = DriverRecords();
    ASSERT_EQ(2u, records.size());

    auto names = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_EQ(CMPI_RC_OK, names.status.rc);
    std::set<std::string> ids;
    for (const auto& p : names.paths) {
        ASSERT_EQ(1u, p.keys.size());
        ids.insert(p.keys[0].second.text);
    }
    EXPECT_EQ((std::set<std::string>{Id(tilo), Id(merv)}), ids);

    auto all = host.enumerateInstances(kNs, kClass);
    ASSERT_EQ(CMPI_RC_OK, all.status.rc);
    ASSERT_EQ(2u, all.instances.size());

    for (const InventoryFields* f : {&tilo, &merv}) {
        auto got = host.getInstance(kNs, kClass, "DeviceID", Id(*f));
        ASSERT_EQ(CMPI_RC_OK, got.status.rc) << Id(*f);
        ASSERT_EQ(1u, got.instances.size());
        const HostInstance& i = got.instances[0];
        // Straight from the emulated inventory report.
        EXPECT_EQ(f->firmwareRevision, Text(i, "FirmwareRevision"));
        EXPECT_EQ(f->machine, Text(i, "PhysicalDeviceName"));
        EXPECT_EQ(f->model, Text(i, "ModelName"));
        EXPECT_EQ(f->serialNumber, Text(i, "SerialNumber"));
        EXPECT_EQ(f->powerOnSeconds / 3600, Number(i, "HoursPoweredCount"));
        EXPECT_EQ(f->backlightOnSeconds / 3600, Number(i, "CurrentBacklightPowerOnHours"));
        EXPECT_EQ(f->brightness, Number(i, "CurrentBrightnessLevel"));
        EXPECT_EQ("VGA", Text(i, "CurrentVideoSource"));
        EXPECT_EQ("USB", Text(i, "Bus"));
        EXPECT_EQ("ABC", Text(i, "ManufacturerName"));
        ExpectMatchesRecord(i, records[Id(*f)]);
        for (const HostInstance& e : all.instances) {
            if (Text(e, "DeviceID") == Id(*f)) {
                ExpectMatchesRecord(e, records[Id(*f)]);
            }
        }
    }
    // The two families differ in their fixed attributes.
    EXPECT_NE(records[Id(tilo)].lightSourceType, records[Id(merv)].lightSourceType);

    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, host.getInstance(kNs, kClass, "DeviceID", "7427-A10").status.rc);
}

TEST_F(E2eTest, StatusTableIncludingAFlashUtility)
{
    EmulatedBus::instance().plug(Monitor("one", 0x4676, Fields("7427", "A10", "3333333")));
    EXPECT_EQ(CMPI_RC_ERR_INVALID_NAMESPACE, host.enumerateInstances("root/other", kClass).status.rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, host.enumerateInstanceNames(kNs, "qav_display").status.rc);
    EXPECT_EQ(CMPI_RC_OK, host.enumerateInstanceNames("ROOT/CIMV2", kClass).status.rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED, host.deleteInstance(cimhost::HostObjectPath()).status.rc);

    // A firmware-flash utility runs (in this binary's own PID namespace).
    pid_t flasher = NamedProcess::Start("/bin/sleep", "kap_config", {"60"});
    ASSERT_GT(flasher, 0);
    auto e = host.enumerateInstances(kNs, kClass);
    EXPECT_EQ(CMPI_RC_OK, e.status.rc);
    EXPECT_TRUE(e.instances.empty());
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND,
              host.getInstance(kNs, kClass, "DeviceID", "7427-A10-3333333").status.rc);
    NamedProcess::Stop(flasher);

    EXPECT_EQ(CMPI_RC_OK, host.getInstance(kNs, kClass, "DeviceID", "7427-A10-3333333").status.rc);
}

TEST_F(E2eTest, UnplugAndPlugBetweenRequestsAreIndicatedOnce)
{
    subscribe();
    InventoryFields stays = Fields("7427", "A10", "4444444");
    InventoryFields leaves = Fields("7428", "B20", "5555555");
    leaves.firmwareRevision = "0311";
    leaves.powerOnSeconds = 3600 * 77;
    EmulatedBus::instance().plug(Monitor("stays", 0x4676, stays));
    EmulatedBus::instance().plug(Monitor("leaves", 0x4678, leaves));
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(2, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    host.indications().take();  // the first request sees both as new

    EmulatedBus::instance().unplug("leaves");
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(1, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    auto gone = host.indications().take();
    ASSERT_EQ(1u, gone.size());
    EXPECT_EQ("CIM_InstDeletion", gone[0].instance.className());
    EXPECT_EQ("root/cimv2", gone[0].nameSpace);
    const HostValue* source = gone[0].instance.find("SourceInstance");
    ASSERT_NE(nullptr, source);
    ASSERT_TRUE(source->instance);
    EXPECT_EQ(Id(leaves), Text(*source->instance, "DeviceID"));
    EXPECT_EQ("0311", Text(*source->instance, "FirmwareRevision"));
    EXPECT_EQ(77u, Number(*source->instance, "HoursPoweredCount"));
    EXPECT_EQ("root/cimv2:QAV_Display.DeviceID=\"" + Id(leaves) + "\"",
              Text(gone[0].instance, "SourceInstanceModelPath"));
    EXPECT_TRUE(gone[0].instance.has("IndicationTime"));

    InventoryFields arrives = Fields("7427", "A10", "6666666");
    EmulatedBus::instance().plug(Monitor("arrives", 0x4677, arrives));
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(1, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    auto came = host.indications().take();
    ASSERT_EQ(1u, came.size());
    EXPECT_EQ("CIM_InstCreation", came[0].instance.className());
    EXPECT_EQ(Id(arrives), Text(*came[0].instance.find("SourceInstance")->instance, "DeviceID"));
}

TEST_F(E2eTest, ConcurrentRequestsWhileMonitorsComeAndGo)
{
    subscribe();
    const int kMonitors = 4;
    std::vector<InventoryFields> fields;
    for (int m = 0; m < kMonitors; ++m) {
        fields.push_back(Fields("7427", "A10", "70000" + std::to_string(10 + m)));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    std::atomic<int> failures{0};
    // The emulator aborts the process when a monitor's node disappears
    // between a client's open and its first ioctl (a kernel would answer
    // ENODEV), so unplugs wait for the requests in flight; arrivals land
    // anywhere.
    std::shared_mutex unplugGate;
    std::mutex turnstile;
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            while (!stop) {
                cimhost::RequestResult r;
                {
                    std::lock_guard<std::mutex> turn(turnstile);  // lets a waiting unplug go first
                }
                std::shared_lock<std::shared_mutex> inFlight(unplugGate);
                switch ((t + requests) % 3) {
                case 0:
                    r = host.enumerateInstanceNames(kNs, kClass);
                    break;
                case 1:
                    r = host.enumerateInstances(kNs, kClass);
                    break;
                default:
                    r = host.getInstance(kNs, kClass, "DeviceID", Id(fields[t % kMonitors]));
                    if (r.status.rc == CMPI_RC_ERR_NOT_FOUND) {
                        r.status.rc = CMPI_RC_OK;
                    }
                    break;
                }
                if (!r.ok() || !r.done) {
                    ++failures;
                }
                ++requests;
            }
        });
    }
    // Monitors come and go while the clients run.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int step = 0;
    while (std::chrono::steady_clock::now() < until) {
        std::string name = "m" + std::to_string(step % kMonitors);
        if (EmulatedBus::instance().isPlugged(name)) {
            std::lock_guard<std::mutex> turn(turnstile);
            std::unique_lock<std::shared_mutex> quiet(unplugGate);
            EmulatedBus::instance().unplug(name);
        } else {
            EmulatedBus::instance().plug(
                Monitor(name, static_cast<uint16_t>(0x4676 + step % 4), fields[step % kMonitors]));
        }
        ++step;
        std::this_thread::sleep_for(std::chrono::milliseconds(37));
    }
    stop = true;
    for (auto& c : clients) {
        c.join();
    }
    // One quiet request brings the provider's picture up to date.
    auto last = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_TRUE(last.ok());
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(20)));
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(requests.load(), 8);

    // Per monitor the indications alternate, starting with a creation, and
    // the last one matches whether it is plugged now: none lost, none doubled.
    std::map<std::string, std::vector<std::string>> byId;
    auto all = host.indications().take();
    for (const auto& ind : all) {
        const HostValue* source = ind.instance.find("SourceInstance");
        ASSERT_TRUE(source != nullptr && source->instance);
        byId[Text(*source->instance, "DeviceID")].push_back(ind.instance.className());
    }
    std::set<std::string> present;
    for (const auto& p : last.paths) {
        present.insert(p.keys[0].second.text);
    }
    size_t total = 0;
    for (int m = 0; m < kMonitors; ++m) {
        const auto& seq = byId[Id(fields[m])];
        total += seq.size();
        // Indication threads deliver in no particular order, so count: every
        // arrival has one creation, every departure one deletion.
        size_t creations = std::count(seq.begin(), seq.end(), std::string("CIM_InstCreation"));
        size_t deletions = seq.size() - creations;
        bool plugged = EmulatedBus::instance().isPlugged("m" + std::to_string(m));
        EXPECT_EQ(plugged, present.count(Id(fields[m])) == 1);
        EXPECT_EQ(creations, deletions + (plugged ? 1 : 0)) << Id(fields[m]);
    }
    EXPECT_EQ(all.size(), total);
    EXPECT_GT(total, 0u);
    RecordProperty("requests", requests.load());
    RecordProperty("indications", static_cast<int>(total));
}

// ---------------------------------------------------------------------------
// Unload and teardown as CIM object managers do them
// ---------------------------------------------------------------------------

TEST_F(E2eTest, IdleUnloadTriedTwiceAfterTheSubscriptionsEndKeepsTheProviderServing)
{
    InventoryFields f = Fields("7427", "A10", "7777777");
    EmulatedBus::instance().plug(Monitor("idle", 0x4676, f));
    ASSERT_EQ(CMPI_RC_OK, host.enumerateInstanceNames(kNs, kClass).status.rc);
    subscribe();
    ASSERT_TRUE(host.deActivateFilter("CIM_InstCreation", false).ok());
    ASSERT_TRUE(host.deActivateFilter("CIM_InstDeletion", true).ok());

    // Each try: instance cleanup(false), then indication cleanup(false); a
    // refusal by either keeps the library and both MIs.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, host.idleUnload().rc) << "round " << round;
        EXPECT_TRUE(host.instanceMILoaded());
        EXPECT_TRUE(host.indicationMILoaded());
    }
    auto names = host.enumerateInstanceNames(kNs, kClass);
    EXPECT_EQ(CMPI_RC_OK, names.status.rc);
    EXPECT_EQ(1u, names.paths.size());
    auto all = host.enumerateInstances(kNs, kClass);
    EXPECT_EQ(CMPI_RC_OK, all.status.rc);
    EXPECT_EQ(1u, all.instances.size());
    EXPECT_EQ(CMPI_RC_OK, host.getInstance(kNs, kClass, "DeviceID", Id(f)).status.rc);
    EXPECT_EQ(1u, host.instanceFactoryCalls());
    EXPECT_EQ(1u, host.indicationFactoryCalls());
}

TEST_F(E2eTest, EmptyOrNullDeviceIdIsNotFound)
{
    EmulatedBus::instance().plug(Monitor("one", 0x4676, Fields("7427", "A10", "8888888")));
    ASSERT_EQ(CMPI_RC_OK, host.enumerateInstanceNames(kNs, kClass).status.rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, host.getInstance(kNs, kClass, "DeviceID", "").status.rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND,
              host.getInstance(kNs, kClass, "DeviceID", "", CMPI_string).status.rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND,
              host.getInstance(kNs, kClass, "DeviceID", HostValue::NullText()).status.rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND,
              host.getInstance(kNs, kClass, "DeviceID", HostValue::Null(CMPI_string)).status.rc);
    EXPECT_EQ(CMPI_RC_OK,
              host.getInstance(kNs, kClass, "DeviceID", "7427-A10-8888888").status.rc);
}

TEST_F(E2eTest, TerminatingCleanupWaitsForAnIndicationInFlight)
{
    subscribe();
    const auto delay = std::chrono::milliseconds(1500);
    host.delayDeliverIndication(delay);
    EmulatedBus::instance().plug(Monitor("late", 0x4676, Fields("7427", "A10", "9999999")));
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_EQ(1u, host.counters().threadsStarted);

    // The CIM object manager shuts down while the listener is slow.
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(host.cleanupInstanceMI(true).ok());
    EXPECT_TRUE(host.cleanupIndicationMI(true).ok());
    auto waited = std::chrono::steady_clock::now() - start;
    // Once the cleanups have returned, the delivery is over and the thread
    // is at most returning to the broker, so the library may go.
    EXPECT_EQ(1u, host.counters().deliveries);
    EXPECT_TRUE(host.waitForProviderThreads(std::chrono::milliseconds(500)));
    EXPECT_LT(waited, std::chrono::seconds(5) + delay);
}

// A serial number with ESC, a newline, 0xFF and DEL: the instance's key and
// strings carry them as \xHH (valid UTF-8, no control characters), a get
// with that key finds it, and no log line holds the raw bytes.
TEST_F(E2eTest, MonitorControlBytesReachClientsAndTheLogEscaped)
{
    const std::string serial("1\x1b\n\xff\x7f\\\"", 7);
    subscribe();
    EmulatedBus::instance().plug(Monitor("odd", 0x4676, Fields("7427", "A10", serial)));
    const std::string key = "7427-A10-1\\x1b\\x0a\\xff\\x7f\\\"";
    auto names = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_EQ(CMPI_RC_OK, names.status.rc);
    ASSERT_EQ(1u, names.paths.size());
    ASSERT_EQ(1u, names.paths[0].keys.size());
    EXPECT_EQ(key, names.paths[0].keys[0].second.text);
    auto got = host.getInstance(kNs, kClass, "DeviceID", key);
    ASSERT_EQ(CMPI_RC_OK, got.status.rc);
    ASSERT_EQ(1u, got.instances.size());
    EXPECT_EQ("1\\x1b\\x0a\\xff\\x7f\\\"", Text(got.instances[0], "SerialNumber"));
    EXPECT_EQ("Vostran Display: " + key, Text(got.instances[0], "Caption"));
    ASSERT_TRUE(host.waitForIndications(1, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    auto came = host.indications().take();
    ASSERT_EQ(1u, came.size());
    EXPECT_EQ("root/cimv2:QAV_Display.DeviceID=\"7427-A10-1\\\\x1b\\\\x0a\\\\xff\\\\x7f\\\\\\\"\"",
              Text(came[0].instance, "SourceInstanceModelPath"));

    std::string log;
    sandbox::ReadFile("/var/log/pnlmon/pnlmon.log", log);
    EXPECT_NE(std::string::npos, log.find("\tserialNumber: 1\\x1b\\x0a\\xff\\x7f\\\"\r\n"));
    EXPECT_NE(std::string::npos, log.find("\tDisplayProvider::DisplayCreated(7427,A10,1\\x1b\\x0a\\xff\\x7f\\\")\r\n"));
    for (char raw : {'\x1b', '\xff', '\x7f'}) {
        EXPECT_EQ(std::string::npos, log.find(raw)) << static_cast<int>(static_cast<unsigned char>(raw));
    }
}

// Two monitors with the same (blank) identity get two keys, each with its
// USB place; pulling one is announced for its own key, and the one that
// stays keeps its key. A monitor with an identity of its own keeps the
// plain key.
TEST_F(E2eTest, RepeatedIdentitiesGetKeysFromTheirPlace)
{
    InventoryFields blank = Fields("\xff\xff\xff\xff", "\xff\xff\xff", std::string(7, '\xff'));
    subscribe();
    EmulatedBus::instance().plug(Monitor("first", 0x4676, blank));
    EmulatedBus::instance().plug(Monitor("second", 0x4676, blank));
    EmulatedBus::instance().plug(Monitor("own", 0x4676, Fields("7427", "A10", "1212121")));
    auto names = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_EQ(CMPI_RC_OK, names.status.rc);
    ASSERT_EQ(3u, names.paths.size());
    const std::string blankId = "\\xff\\xff\\xff\\xff-\\xff\\xff\\xff-\\xff\\xff\\xff\\xff\\xff\\xff\\xff";
    std::set<std::string> keys;
    for (const auto& p : names.paths) {
        keys.insert(p.keys[0].second.text);
    }
    ASSERT_EQ(3u, keys.size()) << "one key per monitor";
    EXPECT_EQ(1u, keys.count("7427-A10-1212121"));
    std::vector<std::string> suffixed;
    for (const std::string& k : keys) {
        if (k.compare(0, blankId.size() + 1, blankId + "@") == 0) {
            suffixed.push_back(k);
        }
    }
    ASSERT_EQ(2u, suffixed.size());
    for (const std::string& k : suffixed) {
        auto got = host.getInstance(kNs, kClass, "DeviceID", k);
        ASSERT_EQ(CMPI_RC_OK, got.status.rc) << k;
        ASSERT_EQ(1u, got.instances.size());
        EXPECT_EQ(k, Text(got.instances[0], "DeviceID"));
    }
    ASSERT_TRUE(host.waitForIndications(3, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    host.indications().take();

    EmulatedBus::instance().unplug("first");
    auto after = host.enumerateInstanceNames(kNs, kClass);
    ASSERT_EQ(2u, after.paths.size());
    ASSERT_TRUE(host.waitForIndications(1, std::chrono::seconds(10)));
    ASSERT_TRUE(host.waitForProviderThreads(std::chrono::seconds(10)));
    auto gone = host.indications().take();
    ASSERT_EQ(1u, gone.size());
    EXPECT_EQ("CIM_InstDeletion", gone[0].instance.className());
    const std::string goneKey = Text(*gone[0].instance.find("SourceInstance")->instance, "DeviceID");
    std::set<std::string> left;
    for (const auto& p : after.paths) {
        left.insert(p.keys[0].second.text);
    }
    EXPECT_EQ(0u, left.count(goneKey));
    EXPECT_EQ(1u, keys.count(goneKey));
    // The one still attached keeps its key, though its identity is now the
    // only one of its kind.
    for (const std::string& k : left) {
        EXPECT_EQ(1u, keys.count(k)) << k;
    }
}
