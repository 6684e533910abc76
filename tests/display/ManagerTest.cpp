// The driver API and the HID display manager against emulated monitors:
// result codes, what the caller's list receives, the flash-utility refusal,
// the lifecycle lines, concurrent callers serialised by enumLock, and the
// lock released and the initialisation guarded whatever happens.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <regex>
#include <stdexcept>
#include <thread>

#include "Config.h"
#include "DisplayManager.h"
#include "EmuFixture.h"
#include "HidDisplayManager.h"
#include "Sandbox.h"

namespace {

class ManagerTest : public EmuTest {
protected:
    void TearDown() override
    {
        sandbox::ResetSystemFolders();
        testsupport::RouteLog(LogFile());  // keep the routing for later tests
        EmuTest::TearDown();
    }

    template <typename Driver>
    DISPLAY_CODE Get(Driver& driver, DisplayInformationList& list)
    {
        testsupport::StdoutCapture quiet;
        return driver.getDisplayInformationList(list);
    }

    static DisplayInformation Marker()
    {
        DisplayInformation info;
        info.serialNumber = "caller's own";
        return info;
    }
};

}  // namespace

TEST_F(ManagerTest, LifecycleLines)
{
    {
        DisplayApi api;
        EXPECT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    }
    std::vector<std::string> lines = LogLines();
    std::vector<std::string> wanted = {
        "Config constructed",         "QavHidDisplayList Constructed",  "HidDisplayManager Constructed",
        "DisplayManager Constructed", "DisplayApi constructed",         "API: InitialiseDisplayDriver, init=0",
        "API: InitialiseDisplayDriver exit, dspcode=0x0",               "DisplayManager Destroyed",
        "HidDisplayManager::terminate, init=1",                         "HidDisplayManager Destroyed",
        "QavHidDisplayList::clear()", "QavHidDisplayList Destroyed",    "Config::destroyInstance",
        "Config destroyed",           "DisplayApi destroyed"};
    // The wanted lines appear in this order (other lines may lie between).
    size_t at = 0;
    for (const std::string& line : lines) {
        if (at < wanted.size() && line == wanted[at]) {
            ++at;
        }
    }
    EXPECT_EQ(at, wanted.size()) << "missing or out of order: " << (at < wanted.size() ? wanted[at] : "");
}

TEST_F(ManagerTest, CodesAndTheCallersList)
{
    DisplayApi api;
    RecordingListener listener;
    api.setDisplayListener(&listener);  // before initialisation: ignored

    DisplayInformationList list;
    list.push_back(Marker());
    EXPECT_EQ(Get(api, list), DSP_NOT_INITIALISED);
    EXPECT_EQ(list.size(), 1u);

    EXPECT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    ResetLog();
    EXPECT_EQ(api.initialiseDisplayDriver(), DSP_OK);  // not initialised again
    EXPECT_TRUE(Has("API: InitialiseDisplayDriver, init=1"));

    EXPECT_EQ(Get(api, list), DSP_NO_DEVICES);
    EXPECT_EQ(list.size(), 1u);

    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ResetLog();
    EXPECT_EQ(Get(api, list), DSP_OK);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].serialNumber, "caller's own");  // appended after what the caller had
    EXPECT_TRUE(listener.calls.empty());               // the early registration did not count
    EXPECT_TRUE(Has("API: getDisplayInformation exit, dspcode=0x0"));
    EXPECT_TRUE(Has("HidDisplayManager::getDisplayInformationList exit - dspcode=0x0"));
    EXPECT_TRUE(HasPrefix("HidDisplayManager::getDisplayInformationList(0x"));
    // Eight hexadecimal digits of the caller's list address.
    std::smatch address;
    std::string text = LogText();
    EXPECT_TRUE(std::regex_search(text, address,
                                  std::regex(R"(HidDisplayManager::getDisplayInformationList\(0x[0-9a-f]{8}\), init=1)")));

    api.setDisplayListener(&listener);
    bus().unplug("b");
    EXPECT_EQ(Get(api, list), DSP_OK);
    EXPECT_EQ(list.size(), 4u);
    EXPECT_EQ(listener.Events(), std::vector<std::string>{"-7427-A10-000000B"});
    api.clearDisplayListener();
}

TEST_F(ManagerTest, FlashUtilityBlocksEveryUsbAccess)
{
    DisplayApi api;
    ASSERT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    RecordingListener listener;
    api.setDisplayListener(&listener);
    bus().plug(Monitor("a", "000000A"));
    DisplayInformationList list;
    ASSERT_EQ(Get(api, list), DSP_OK);
    ASSERT_EQ(listener.calls.size(), 1u);

    // The binary runs in its own PID namespace: the fake utility is ours alone.
    pid_t utility = testsupport::StartAs("/bin/sleep", "/usr/local/bin/vexfwupdate", {"30", "5"});
    ASSERT_GT(utility, 0);
    bus().plug(Monitor("b", "000000B"));
    bus().unplug("a");
    listener.calls.clear();
    ResetLog();
    list.clear();
    list.push_back(Marker());
    EXPECT_EQ(Get(api, list), DSP_FLASH_IN_PROGRESS);
    EXPECT_EQ(bus().opens("b"), 0);  // not touched
    EXPECT_EQ(list.size(), 1u);
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_TRUE(Has("HidDisplayManager::updateDisplays - flashing program active - will not continue"));
    EXPECT_TRUE(Has("FlashAware::isProcessNameRunning - found monitor flash process: 'vexfwupdate' running"));
    EXPECT_TRUE(Has("API: getDisplayInformation exit, dspcode=0xb"));
    testsupport::StopProcess(utility);

    // Changes are reported relative to the last enumeration that ran.
    EXPECT_EQ(Get(api, list), DSP_OK);
    std::vector<std::string> expected = {"-7427-A10-000000A", "+7427-A10-000000B"};
    EXPECT_EQ(listener.Events(), expected);
    api.clearDisplayListener();
}

// The configuration lives while any DisplayApi lives: a second API going
// leaves it to the first, and only the last one destroys it (a new file is
// read by the next API after that).
TEST_F(ManagerTest, TheConfigurationLivesWhileAnyApiLives)
{
    DisplayApi* first = new DisplayApi();
    sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "FlashUtilityNames=sleep\n");
    ResetLog();
    {
        testsupport::StdoutCapture quiet;
        DisplayApi second;
    }
    EXPECT_EQ(Count("Config::destroyInstance"), 0);
    EXPECT_EQ(Count("Config destroyed"), 0);
    ASSERT_EQ(first->initialiseDisplayDriver(), DSP_OK);
    pid_t sleeper = testsupport::StartAs("/bin/sleep", "sleep", {"30"});
    ASSERT_GT(sleeper, 0);
    DisplayInformationList list;
    // Still the configuration read before the file changed.
    EXPECT_EQ(Get(*first, list), DSP_NO_DEVICES);
    EXPECT_EQ(Count("Config constructed"), 0);
    delete first;
    EXPECT_EQ(Count("Config::destroyInstance"), 1);
    EXPECT_EQ(Count("Config destroyed"), 1);

    DisplayApi next;
    ASSERT_EQ(next.initialiseDisplayDriver(), DSP_OK);
    EXPECT_TRUE(Has("Config::readIniFile - Setting Flash utility names to sleep"));
    EXPECT_EQ(Get(next, list), DSP_FLASH_IN_PROGRESS);
    testsupport::StopProcess(sleeper);
}

// One API enumerating (reading the flash-utility names) while others come
// and go on another thread: nothing may free the configuration under it
// (AddressSanitizer reports a use after free otherwise).
TEST_F(ManagerTest, ApisComingAndGoingBesideAnEnumeration)
{
    bus().plug(Monitor("a", "000000A"));
    DisplayApi first;
    ASSERT_EQ(first.initialiseDisplayDriver(), DSP_OK);
    std::atomic<bool> done(false);
    std::atomic<int> failures(0);
    testsupport::StdoutCapture quiet;
    std::thread enumerating([&] {
        while (!done) {
            DisplayInformationList list;
            if (first.getDisplayInformationList(list) != DSP_OK || list.size() != 1) {
                ++failures;
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        DisplayApi other;
    }
    done = true;
    enumerating.join();
    quiet.Stop();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Count("Config destroyed"), 0);
}

TEST_F(ManagerTest, TheSurvivorOfTwoApisStillReachesTheBus)
{
    bus().plug(Monitor("a", "000000A"));
    DisplayApi first;
    ASSERT_EQ(first.initialiseDisplayDriver(), DSP_OK);
    {
        // Both share the process's libusb context; the second one going must
        // not end it under the first.
        DisplayApi second;
        ASSERT_EQ(second.initialiseDisplayDriver(), DSP_OK);
        DisplayInformationList list;
        EXPECT_EQ(Get(second, list), DSP_OK);
        EXPECT_EQ(list.size(), 1u);
    }
    DisplayInformationList list;
    EXPECT_EQ(Get(first, list), DSP_OK);
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(ManagerTest, ConcurrentCallersAreSerialised)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    DisplayApi api;
    ASSERT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    RecordingListener listener;
    api.setDisplayListener(&listener);
    const int kRounds = 5;
    DISPLAY_CODE codes[2][kRounds];
    DisplayInformationList lists[2];
    {
        testsupport::StdoutCapture quiet;
        std::thread threads[2];
        for (int t = 0; t < 2; ++t) {
            threads[t] = std::thread([&, t]() {
                for (int r = 0; r < kRounds; ++r) {
                    codes[t][r] = api.getDisplayInformationList(lists[t]);
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    for (int t = 0; t < 2; ++t) {
        for (int r = 0; r < kRounds; ++r) {
            EXPECT_EQ(codes[t][r], DSP_OK);
        }
        ASSERT_EQ(lists[t].size(), 2u * kRounds);
        for (const DisplayInformation& info : lists[t]) {
            EXPECT_EQ(info.physicalDeviceName, "7427");
        }
    }
    // Each monitor arrived once; no enumeration saw a half-built list.
    EXPECT_EQ(listener.calls.size(), 2u);
    EXPECT_EQ(Count("HidDisplayManager::enumerate - waiting for enumLock..."), 2 * kRounds);
    api.clearDisplayListener();
}

namespace {

class ThrowingListener : public IDisplayListener {
public:
    void DisplayCreated(DisplayInformation) override { throw std::runtime_error("listener failed"); }
    void DisplayDeleted(DisplayInformation) override { throw std::runtime_error("listener failed"); }
};

// Runs call on another thread; a call still blocked after the limit fails the
// test and ends the process (its thread can never be joined).
template <typename Call>
DISPLAY_CODE WithinSeconds(int limit, Call call)
{
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(limit)) != std::future_status::ready) {
        // Standard output may still be captured by the blocked call.
        fprintf(stderr, "FAILED: the request is still blocked after %d s\n", limit);
        _exit(1);
    }
    return result.get();
}

}  // namespace

TEST_F(ManagerTest, AListenerThatThrowsLeavesTheNextRequestFree)
{
    bus().plug(Monitor("a", "000000A"));
    DisplayApi api;
    ASSERT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    ThrowingListener thrower;
    api.setDisplayListener(&thrower);
    DisplayInformationList list;
    EXPECT_THROW(Get(api, list), std::runtime_error);
    EXPECT_TRUE(list.empty());
    api.clearDisplayListener();

    // Once from another thread, once from the one that saw the exception.
    bus().plug(Monitor("b", "000000B"));
    RecordingListener listener;
    api.setDisplayListener(&listener);
    DISPLAY_CODE code = WithinSeconds(20, [&]() { return Get(api, list); });
    EXPECT_EQ(code, DSP_OK);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_FALSE(listener.calls.empty());  // the new monitor is announced
    list.clear();
    EXPECT_EQ(WithinSeconds(20, [&]() { return Get(api, list); }), DSP_OK);
    EXPECT_EQ(list.size(), 2u);
    api.clearDisplayListener();
}

// The default build type defines NDEBUG: the check must not be an assertion.
TEST_F(ManagerTest, SecondInitialiseIsRefusedAndLogged)
{
    bus().plug(Monitor("a", "000000A"));
    {
        DisplayManager manager;
        ASSERT_EQ(manager.initialise(), DSP_OK);
        EXPECT_EQ(manager.initialise(), DSP_INTERNAL_ERROR);
        EXPECT_EQ(Count("DisplayManager::initialise - already initialised"), 1);
        DisplayInformationList list;
        EXPECT_EQ(Get(manager, list), DSP_OK);
        EXPECT_EQ(list.size(), 1u);
    }
    {
        HidDisplayManager manager;
        ASSERT_EQ(manager.initialise(), DSP_OK);
        EXPECT_EQ(manager.initialise(), DSP_INTERNAL_ERROR);
        EXPECT_EQ(manager.initialise(), DSP_INTERNAL_ERROR);
        EXPECT_EQ(Count("HidDisplayManager::initialise - already initialised"), 2);
        DisplayInformationList list;
        EXPECT_EQ(Get(manager, list), DSP_OK);
        EXPECT_EQ(list.size(), 1u);
    }
    Config::destroyInstance();
}

// The raw reports of the latest enumeration: every supported monitor found,
// read or not, with its place on the bus and how far reading it got.
TEST_F(ManagerTest, RawReportsOfTheLatestEnumeration)
{
    DisplayApi api;
    display_report_list_t reports;
    EXPECT_EQ(api.getDisplayReports(reports), DSP_NOT_INITIALISED);
    ASSERT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    EXPECT_EQ(api.getDisplayReports(reports), DSP_OK);
    EXPECT_TRUE(reports.empty());  // nothing enumerated yet

    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    usbemu::Fault claim;
    claim.kind = usbemu::FaultKind::ClaimFails;
    bus().setFault("b", claim);
    DisplayInformationList list;
    ASSERT_EQ(Get(api, list), DSP_OK);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(api.getDisplayReports(reports), DSP_OK);
    ASSERT_EQ(reports.size(), 2u);
    const DisplayReport* read = nullptr;
    const DisplayReport* failed = nullptr;
    for (const DisplayReport& r : reports) {
        (r.state == DisplayReport::READ ? read : failed) = &r;
    }
    ASSERT_NE(read, nullptr);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(read->deviceId, "7427-A10-000000A");
    EXPECT_EQ(read->vendorId, 0x04B3);
    EXPECT_EQ(read->productId, 0x4676);
    EXPECT_NE(read->deviceAddress, 0);
    EXPECT_NE(read->deviceAddress, failed->deviceAddress);
    ASSERT_EQ(read->inventoryReport.size(), 48u);
    std::string inventory(read->inventoryReport.begin(), read->inventoryReport.end());
    EXPECT_NE(inventory.find("7427"), std::string::npos);
    EXPECT_NE(inventory.find("000000A"), std::string::npos);
    ASSERT_EQ(read->edid.size(), 128u);
    EXPECT_EQ(read->edid[1], 0xFF);
    EXPECT_EQ(read->osdReport.size(), 48u);
    // Held by another program when first seen: busy, with nothing earlier.
    EXPECT_EQ(failed->state, DisplayReport::BUSY);
    EXPECT_EQ(failed->usbError, -6);  // LIBUSB_ERROR_BUSY
    EXPECT_TRUE(failed->deviceId.empty());
    EXPECT_TRUE(failed->inventoryReport.empty());

    // The next enumeration replaces them; an open that fails is told apart.
    bus().clearFault("b");
    usbemu::Fault open;
    open.kind = usbemu::FaultKind::OpenFails;
    bus().setFault("a", open);
    ASSERT_EQ(Get(api, list), DSP_OK);
    ASSERT_EQ(api.getDisplayReports(reports), DSP_OK);
    ASSERT_EQ(reports.size(), 2u);
    int states[6] = {0, 0, 0, 0, 0, 0};
    for (const DisplayReport& r : reports) {
        ++states[r.state];
        if (r.state == DisplayReport::OPEN_FAILED) {
            EXPECT_EQ(r.usbError, -1);  // LIBUSB_ERROR_IO
        }
    }
    EXPECT_EQ(states[DisplayReport::READ], 1);
    EXPECT_EQ(states[DisplayReport::OPEN_FAILED], 1);
}
