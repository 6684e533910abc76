// Arrivals and departures between enumerations, as the listener, the log and
// standard output see them. The USB device list is made to fail through a
// link-time wrapper of libusb_get_device_list (this binary is linked with
// --wrap): the emulated bus cannot make the real call fail.
#include <libusb.h>

#include <algorithm>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "EmuFixture.h"
#include "HidDisplayManager.h"
#include "QavHidDisplayList.h"
#include "Sandbox.h"
#include "SupportedHidDisplays.h"

namespace {
std::atomic<bool> g_failDeviceList{false};
}  // namespace

extern "C" {
ssize_t __real_libusb_get_device_list(libusb_context* ctx, libusb_device*** list);
ssize_t __wrap_libusb_get_device_list(libusb_context* ctx, libusb_device*** list)
{
    if (g_failDeviceList) {
        return LIBUSB_ERROR_NO_MEM;
    }
    return __real_libusb_get_device_list(ctx, list);
}
}

namespace {

class ChangeDetectionTest : public EmuTest {
protected:
    void SetUp() override
    {
        EmuTest::SetUp();
        list.reset(new QavHidDisplayList());
        list->setDisplayListener(&listener);
    }

    void TearDown() override
    {
        g_failDeviceList = false;
        list.reset();
        EmuTest::TearDown();
    }

    // One enumeration; its standard output is kept in `out`, its log lines
    // and listener calls start afresh.
    bool Enumerate()
    {
        ResetLog();
        listener.calls.clear();
        testsupport::StdoutCapture capture;
        bool result = list->enumerate(table);
        out = capture.Stop();
        return result;
    }

    std::string Id(int index)
    {
        std::string id;
        QavHidDisplay* d = list->getDisplayAt(index);
        if (d != nullptr) {
            d->getDeviceId(id);
        }
        return id;
    }

    bool Printed(const std::string& line) const { return out.find(line + "\n") != std::string::npos; }

    SupportedHidDisplays table;
    std::unique_ptr<QavHidDisplayList> list;
    RecordingListener listener;
    std::string out;
};

const char kA[] = "7427-A10-000000A";
const char kB[] = "7427-A10-000000B";
const char kC[] = "7427-A10-000000C";

}  // namespace

TEST_F(ChangeDetectionTest, FirstEnumerationThenNoChange)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    ASSERT_EQ(list->getNumDisplays(), 2);
    // Arrivals in bus-list order, no departure.
    std::vector<std::string> expected = {"+" + Id(0), "+" + Id(1)};
    EXPECT_EQ(listener.Events(), expected);
    EXPECT_TRUE(Printed("HidIo::get_device_list returns 3 "));  // root hub and two monitors
    EXPECT_TRUE(Printed(std::string("************* ARRIVED ") + kA + " **************"));
    EXPECT_TRUE(Printed(std::string("************* ARRIVED ") + kB + " **************"));
    EXPECT_EQ(Count(std::string("QavHidDisplayList::indicateDeviceChanges - Device Arrived ") + kA), 1);
    EXPECT_EQ(out.find("departures"), std::string::npos);
    EXPECT_EQ(out.find("compare"), std::string::npos);  // nothing to compare with

    // getDisplayAt: the count gives null, one below it the last monitor,
    // and a negative index null as well.
    EXPECT_EQ(list->getDisplayAt(2), nullptr);
    EXPECT_NE(list->getDisplayAt(1), nullptr);
    EXPECT_EQ(list->getDisplayAt(-1), nullptr);

    ASSERT_TRUE(Enumerate());
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_EQ(Count("QavHidDisplayList::indicateDeviceChanges - No device changes"), 1);
    EXPECT_TRUE(Printed("departures - compare prev " + Id(0) + " curr " + Id(0)));
    EXPECT_TRUE(Printed("arrivals - compare curr " + Id(1) + " prev " + Id(0)));
    EXPECT_EQ(out.find("GONE"), std::string::npos);
    EXPECT_EQ(out.find("ARRIVED"), std::string::npos);
}

TEST_F(ChangeDetectionTest, EmptyBusReportsNothing)
{
    EXPECT_TRUE(Enumerate());
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_FALSE(HasPrefix("QavHidDisplayList::indicateDeviceChanges"));
    EXPECT_TRUE(Has("QavHidDisplayList::enumerate added 0 device(s) from 0 found"));
}

TEST_F(ChangeDetectionTest, UnplugReportsTheEarlierRecord)
{
    bus().plug(Monitor("a", "000000A"));
    usbemu::MonitorSpec b = Monitor("b", "000000B");
    usbemu::InventoryFields fields;
    fields.serialNumber = "000000B";
    fields.brightness = 33;
    b.inventory = fields.bytes();
    bus().plug(b);
    ASSERT_TRUE(Enumerate());
    bus().unplug("b");
    ASSERT_TRUE(Enumerate());
    ASSERT_EQ(listener.calls.size(), 1u);
    EXPECT_FALSE(listener.calls[0].created);
    EXPECT_EQ(listener.calls[0].info.serialNumber, "000000B");
    EXPECT_EQ(listener.calls[0].info.currentBrightnessLevel, 33);  // read in the enumeration before
    EXPECT_TRUE(Printed(std::string("departures - adding prev ") + kB + " to gone list"));
    EXPECT_TRUE(Printed(std::string("************* GONE ") + kB + " **************"));
    EXPECT_EQ(Count(std::string("QavHidDisplayList::indicateDeviceChanges - Device Gone ") + kB), 1);

    // And the last one: an empty bus after monitors is still a change.
    bus().unplug("a");
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kA});
}

TEST_F(ChangeDetectionTest, ReplacementIsDepartureThenArrival)
{
    bus().plug(Monitor("a", "000000A"));
    ASSERT_TRUE(Enumerate());
    bus().unplug("a");
    bus().plug(Monitor("c", "000000C"));
    ASSERT_TRUE(Enumerate());
    std::vector<std::string> expected = {std::string("-") + kA, std::string("+") + kC};
    EXPECT_EQ(listener.Events(), expected);
    size_t gone = out.find("************* GONE");
    size_t arrived = out.find("************* ARRIVED");
    ASSERT_NE(gone, std::string::npos);
    ASSERT_NE(arrived, std::string::npos);
    EXPECT_LT(gone, arrived);
}

TEST_F(ChangeDetectionTest, PortSwapIsNoChange)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    bus().unplugAll();
    bus().plug(Monitor("b2", "000000B"));
    bus().plug(Monitor("a2", "000000A"));
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(list->getNumDisplays(), 2);
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_TRUE(Has("QavHidDisplayList::indicateDeviceChanges - No device changes"));
}

// A monitor whose identity repeats another's gets the suffix of its USB
// place, so that each has its own identifier; a monitor keeps its
// identifier while it stays attached at the same place.
TEST_F(ChangeDetectionTest, RepeatedIdentityGetsTheSuffixOfItsPlace)
{
    bus().plug(Monitor("a", "000000A"));
    ASSERT_TRUE(Enumerate());
    listener.calls.clear();
    bus().plug(Monitor("twin", "000000A"));  // arrives with an identifier already present
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(list->getNumDisplays(), 2);
    const std::string twin = std::string(kA) + "@1-" + std::to_string(bus().address("twin"));
    EXPECT_EQ(listener.Events(), std::vector<std::string>{"+" + twin});
    listener.calls.clear();
    ASSERT_TRUE(Enumerate());
    EXPECT_TRUE(listener.calls.empty());

    bus().unplug("a");  // one leaves, the other keeps its identifier
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(list->getNumDisplays(), 1);
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kA});
    listener.calls.clear();

    bus().plug(Monitor("a", "000000A"));  // back, at another place
    ASSERT_TRUE(Enumerate());
    const std::string back = std::string(kA) + "@1-" + std::to_string(bus().address("a"));
    EXPECT_EQ(listener.Events(), std::vector<std::string>{"+" + back});
    std::string first;
    std::string second;
    list->getDisplayAt(0)->getDeviceId(first);
    list->getDisplayAt(1)->getDeviceId(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(Has("QavHidDisplayList::assignKeySuffixes - identity repeated, device " + back + " at 1-" +
                    std::to_string(bus().address("a"))));
}

// Two monitors with the same identity found in one enumeration both get
// the suffix; the records and the raw reports carry it.
TEST_F(ChangeDetectionTest, BlankIdentitiesFoundTogetherAreToldApart)
{
    usbemu::InventoryFields blank;
    blank.machine = "\xff\xff\xff\xff";
    blank.model = "\xff\xff\xff";
    blank.serialNumber = std::string(7, '\xff');
    usbemu::MonitorSpec one = Monitor("one", "0");
    one.inventory = blank.bytes();
    usbemu::MonitorSpec two = Monitor("two", "0");
    two.inventory = blank.bytes();
    bus().plug(one);
    bus().plug(two);
    ASSERT_TRUE(Enumerate());
    ASSERT_EQ(list->getNumDisplays(), 2);
    std::vector<std::string> events = listener.Events();
    std::sort(events.begin(), events.end());
    const std::string identity = "\xff\xff\xff\xff-\xff\xff\xff-" + std::string(7, '\xff');
    std::vector<std::string> expected = {"+" + identity + "@1-" + std::to_string(bus().address("one")),
                                         "+" + identity + "@1-" + std::to_string(bus().address("two"))};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(events, expected);
    EXPECT_EQ(listener.calls[0].info.serialNumber.substr(0, 8), std::string(7, '\xff') + "@");
    for (const DisplayReport& report : list->getReports()) {
        EXPECT_EQ(report.deviceId, identity + "@1-" + std::to_string(report.deviceAddress));
    }
}

TEST_F(ChangeDetectionTest, ClearedListenerIsNotCalled)
{
    bus().plug(Monitor("a", "000000A"));
    list->clearDisplayListener();
    ASSERT_TRUE(Enumerate());
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_TRUE(Printed(std::string("************* ARRIVED ") + kA + " **************"));
    EXPECT_EQ(Count(std::string("QavHidDisplayList::indicateDeviceChanges - Device Arrived ") + kA), 1);
}

TEST_F(ChangeDetectionTest, FailedInitLeavesTheMonitorOutAndReportsItGone)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    usbemu::Fault fault;
    fault.kind = usbemu::FaultKind::ReadFails;
    bus().setFault("b", fault);
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(list->getNumDisplays(), 1);
    EXPECT_TRUE(Has("QavHidDisplayList::enumerate added 1 device(s) from 2 found"));
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kB});
    bus().clearFault("b");
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("+") + kB});
}

// Another program holds b through every claim attempt: b keeps its record
// from the enumeration before, in its place, and is no change.
TEST_F(ChangeDetectionTest, BusyMonitorKeepsItsRecordAndIsNoChange)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    std::vector<DisplayReport> before = list->getReports();
    ASSERT_EQ(before.size(), 2u);
    bus().clearWire("b");
    usbemu::Fault fault;
    fault.kind = usbemu::FaultKind::ClaimFails;
    bus().setFault("b", fault);
    // The bus lists them in its own order; the records keep it.
    size_t at = before[0].deviceId == kB ? 0 : 1;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(Enumerate());
        EXPECT_TRUE(listener.calls.empty()) << round;
        ASSERT_EQ(list->getNumDisplays(), 2);
        EXPECT_EQ(Id(static_cast<int>(at)), kB);
        EXPECT_EQ(Id(static_cast<int>(1 - at)), kA);
        char line[160];
        snprintf(line, sizeof(line),
                 "QavHidDisplayList::addQavHidDisplay - bus 001 device %03d (04b3:4676) is in use by another "
                 "program; not read, its earlier record kept",
                 bus().address("b"));
        EXPECT_EQ(Count(line), 1) << LogText();
        const display_report_list_t& reports = list->getReports();
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[1 - at].state, DisplayReport::READ);
        EXPECT_EQ(reports[at].state, DisplayReport::BUSY);
        EXPECT_EQ(reports[at].usbError, -6);
        EXPECT_EQ(reports[at].deviceId, kB);
        EXPECT_EQ(reports[at].inventoryReport, before[at].inventoryReport);
        EXPECT_EQ(reports[at].edid, before[at].edid);
        EXPECT_TRUE(bus().wire("b").empty());
    }
    // Free again: read afresh, still no change.
    bus().clearFault("b");
    ASSERT_TRUE(Enumerate());
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_EQ(list->getReports()[at].state, DisplayReport::READ);
    EXPECT_EQ(bus().wire("b").size(), 3u);

    // Busy when plugged again (a new address): nothing earlier stands for
    // it, so it departs and arrives once it can be read.
    bus().unplug("b");
    bus().plug(Monitor("b", "000000B"));
    bus().setFault("b", fault);
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kB});
    EXPECT_EQ(list->getNumDisplays(), 1);
    bus().clearFault("b");
    ASSERT_TRUE(Enumerate());
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("+") + kB});
}

// Pulled while the claim is being tried again: gone, as any pulled monitor.
TEST_F(ChangeDetectionTest, BusyMonitorPulledDuringTheRetriesIsGone)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    usbemu::Fault fault;
    fault.kind = usbemu::FaultKind::ClaimFails;
    bus().setFault("b", fault);
    ResetLog();
    std::thread puller([this] {
        // b's first refused claim, then the pull.
        while (!HasPrefix("HidIo::claimInterface - interface 0 is held by another program")) {
            usleep(2000);
        }
        bus().unplug("b");
    });
    listener.calls.clear();
    testsupport::StdoutCapture capture;
    bool result = list->enumerate(table);
    capture.Stop();
    puller.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kB});
    EXPECT_EQ(list->getNumDisplays(), 1);
    EXPECT_FALSE(HasPrefix("QavHidDisplayList::addQavHidDisplay - bus 001"));
}

TEST_F(ChangeDetectionTest, FailedDeviceListKeepsTheLastGoodEnumeration)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    ASSERT_TRUE(Enumerate());
    ASSERT_EQ(listener.calls.size(), 2u);

    g_failDeviceList = true;
    EXPECT_FALSE(Enumerate());
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_TRUE(Printed("HidIo::get_device_list returns -11 "));
    EXPECT_EQ(Count("QavHidDisplayList::enumerate - libusb_get_device_list returns no devices"), 1);
    EXPECT_FALSE(HasPrefix("QavHidDisplayList::indicateDeviceChanges"));

    // A second failure in a row changes nothing either.
    EXPECT_FALSE(Enumerate());

    // Meanwhile b leaves and c arrives; a stays and is not reported again.
    g_failDeviceList = false;
    bus().unplug("b");
    bus().plug(Monitor("c", "000000C"));
    ASSERT_TRUE(Enumerate());
    std::vector<std::string> expected = {std::string("-") + kB, std::string("+") + kC};
    EXPECT_EQ(listener.Events(), expected);
}

TEST_F(ChangeDetectionTest, ManagerAnswersEnumFailedAndLeavesTheListAlone)
{
    list.reset();  // one libusb context at a time: the manager has its own list
    bus().plug(Monitor("a", "000000A"));
    HidDisplayManager manager;
    ASSERT_EQ(manager.initialise(), DSP_OK);
    RecordingListener managerListener;
    manager.setDisplayListener(&managerListener);
    DisplayInformationList records;
    {
        testsupport::StdoutCapture quiet;
        ASSERT_EQ(manager.getDisplayInformationList(records), DSP_OK);
        g_failDeviceList = true;
        EXPECT_EQ(manager.getDisplayInformationList(records), DSP_ENUM_FAILED);
        g_failDeviceList = false;
        EXPECT_EQ(manager.getDisplayInformationList(records), DSP_OK);
    }
    EXPECT_EQ(records.size(), 2u);  // nothing appended by the failed request
    EXPECT_EQ(managerListener.Events(), std::vector<std::string>{std::string("+") + kA});
}

TEST_F(ChangeDetectionTest, FlashUtilityStartingDuringEnumerationAddsNothing)
{
    bus().plug(Monitor("a", "000000A"));
    ASSERT_TRUE(Enumerate());
    // This binary runs in its own PID namespace: the fake utility is ours alone.
    pid_t utility = testsupport::StartAs("/bin/sleep", "/opt/tools/kap_download", {"30"});
    ASSERT_GT(utility, 0);
    bus().clearWire("a");
    bool result = Enumerate();
    testsupport::StopProcess(utility);
    EXPECT_TRUE(result);
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(bus().wire("a").empty());
    EXPECT_EQ(Count("QavHidDisplayList::addQavHidDisplay - Will not add device(s) to the list - Flash utility "
                    "drivers are active"),
              1);
    EXPECT_EQ(Count("QavHidDisplayList::addQavHidDisplay - Will re-enumerate on next user request after utility "
                    "drivers not active"),
              1);
    EXPECT_EQ(listener.Events(), std::vector<std::string>{std::string("-") + kA});
}
