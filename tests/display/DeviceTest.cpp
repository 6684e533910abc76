// One monitor through the real libusb against an emulated monitor: the
// requests as the monitor sees them, the record built from its reports, and
// every transport fault with its log line.
#include <libusb.h>

#include <cstdio>
#include <memory>

#include "EmuFixture.h"
#include "Edid.h"
#include "Osd.h"
#include "QavHidDisplay.h"
#include "QavHidDisplayList.h"
#include "SupportedHidDisplays.h"

using usbemu::Command;
using usbemu::Fault;
using usbemu::FaultKind;
using usbemu::MonitorSpec;
using usbemu::WireEvent;

namespace {

class DeviceTest : public EmuTest {
protected:
    // Enumerates the bus once with a fresh list (and libusb context).
    void Enumerate()
    {
        list.reset(new QavHidDisplayList());
        testsupport::StdoutCapture quiet;
        ASSERT_TRUE(list->enumerate(table));
    }

    DisplayInformation Record(int index = 0)
    {
        DisplayInformation info;
        QavHidDisplay* display = list->getDisplayAt(index);
        EXPECT_NE(display, nullptr);
        if (display != nullptr) {
            display->buildDeviceInformation(info);
        }
        return info;
    }

    // Plugs one monitor with a fault and enumerates: the monitor must be
    // left out with the device's own error line first.
    void ExpectLeftOut(const std::string& errorLine)
    {
        Enumerate();
        EXPECT_EQ(list->getNumDisplays(), 0);
        EXPECT_TRUE(HasPrefix(errorLine)) << errorLine << "\n" << LogText();
        EXPECT_EQ(Count("QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init"), 1);
        EXPECT_EQ(Count("QavHidDisplayList::enumerate added 0 device(s) from 1 found"), 1);
    }

    void TearDown() override
    {
        list.reset();
        EmuTest::TearDown();
    }

    SupportedHidDisplays table;
    std::unique_ptr<QavHidDisplayList> list;
};

void ExpectSetReport(const WireEvent& e, uint8_t command, uint8_t selector, int reads)
{
    EXPECT_EQ(e.bmRequestType, 0x21);
    EXPECT_EQ(e.bRequest, 0x09);
    EXPECT_EQ(e.wValue, 0x0200);
    EXPECT_EQ(e.wIndex, 0);
    EXPECT_EQ(e.wLength, 48);
    ASSERT_EQ(e.report.size(), 48u);
    std::vector<uint8_t> expected(48, 0);
    expected[1] = command;
    expected[2] = selector;
    EXPECT_EQ(e.report, expected);
    EXPECT_EQ(e.readsServed, reads);
}

// The named monitor opened on a libusb context of its own, as another
// program would.
struct ClientHandle {
    explicit ClientHandle(const std::string& name)
    {
        if (libusb_init(&context) != 0) {
            context = nullptr;
            return;
        }
        libusb_device** devs = nullptr;
        ssize_t n = libusb_get_device_list(context, &devs);
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_device_address(devs[i]) == usbemu::EmulatedBus::instance().address(name)) {
                libusb_open(devs[i], &handle);
            }
        }
        if (n >= 0) {
            libusb_free_device_list(devs, 1);
        }
    }
    ~ClientHandle()
    {
        if (handle != nullptr) {
            libusb_close(handle);
        }
        if (context != nullptr) {
            libusb_exit(context);
        }
    }
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
};

MonitorSpec DisplayPortMonitor(const std::string& name)
{
    MonitorSpec spec;
    spec.name = name;
    spec.vid = 0x0F66;
    spec.pid = 0x467A;
    usbemu::InventoryFields fields;
    fields.status1 = 0x03;  // bits 2-3 clear: DisplayPort active
    spec.inventory = fields.bytes();
    std::vector<uint8_t> edid = usbemu::MakeEdid();
    std::vector<uint8_t> second(128, 0);
    second[0] = 0x02;  // an extension block: dumped, never decoded
    edid.insert(edid.end(), second.begin(), second.end());
    usbemu::FixEdidChecksum(edid);
    spec.edid = edid;
    return spec;
}

}  // namespace

TEST_F(DeviceTest, VgaMonitorExchangesOnTheWire)
{
    bus().plug(Monitor("m1", "0000001"));
    Enumerate();
    ASSERT_EQ(list->getNumDisplays(), 1);
    std::vector<WireEvent> wire = bus().wire("m1");
    ASSERT_EQ(wire.size(), 3u);
    ExpectSetReport(wire[0], 0x01, 0x00, 1);
    ExpectSetReport(wire[1], 0x0B, 0x00, 3);
    ExpectSetReport(wire[2], 0x0D, 0x00, 1);
    EXPECT_EQ(bus().opens("m1"), 1);
    EXPECT_TRUE(Has("Device 04b3:4676, fw=0100 -  Monitor Interface 0 - Interrupt EP=0x81"));
    EXPECT_TRUE(Has("QavHidDisplay::initialise - Current Video Source is VGA"));
    EXPECT_TRUE(Has("getEdid128() 1"));
    EXPECT_TRUE(Has("QavHidDisplay::initialise - Ok"));
    EXPECT_TRUE(Has("QavHidDisplayList::addQavHidDisplay - added device 7427-A10-0000001 to list"));
    EXPECT_TRUE(Has("QavHidDisplayList::enumerate added 1 device(s) from 1 found"));
}

TEST_F(DeviceTest, DisplayPortMonitorReadsBothEdidBlocks)
{
    bus().plug(DisplayPortMonitor("dp"));
    Enumerate();
    ASSERT_EQ(list->getNumDisplays(), 1);
    std::vector<WireEvent> wire = bus().wire("dp");
    ASSERT_EQ(wire.size(), 3u);
    ExpectSetReport(wire[0], 0x01, 0x00, 1);
    ExpectSetReport(wire[1], 0x0B, 0x01, 6);
    ExpectSetReport(wire[2], 0x0D, 0x00, 1);
    EXPECT_TRUE(Has("QavHidDisplay::initialise - Current Video Source is DisplayPort"));
    EXPECT_TRUE(Has("getEdid256() 1"));
    EXPECT_EQ(Count("DisplayPort EDID Bytes - First Block:"), 1);
    EXPECT_EQ(Count("DisplayPort EDID Bytes - Second Block:"), 1);
    // The second block's first line shows the extension tag.
    std::vector<std::string> lines = LogLines();
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] == "DisplayPort EDID Bytes - Second Block:") {
            EXPECT_EQ(lines[i + 1], "02 00 00 00 00 00 00 00 ");
        }
    }
    EXPECT_EQ(Record().currentVideoSource, "DisplayPort");
}

TEST_F(DeviceTest, RecordOfEachFamily)
{
    struct Family {
        uint16_t vid, pid;
        uint16_t lightSourceType;
        str_list_t sources;
        uint8_t status1;
        const char* videoSource;
    };
    const Family families[] = {
        {0x04B3, 0x4676, 3, {"VGA"}, 0x0C, "VGA"},                 // first family
        {0x04B3, 0x4679, 2, {"VGA"}, 0x0F, "Unknown"},             // second family, no input active
        {0x0F66, 0x467A, 2, {"VGA", "DisplayPort"}, 0x0C, "VGA"},  // two inputs, VGA active
    };
    std::vector<uint8_t> edidBytes = usbemu::MakeEdid();
    Edid edid;
    ASSERT_TRUE(edid.initialise(edidBytes.data(), 128));

    for (const Family& f : families) {
        SCOPED_TRACE(testing::Message() << std::hex << f.pid);
        bus().unplugAll();
        MonitorSpec spec;
        spec.name = "fam";
        spec.vid = f.vid;
        spec.pid = f.pid;
        usbemu::InventoryFields fields;
        fields.firmwareRevision = "0207";
        fields.machine = "7431";
        fields.model = "B22";
        fields.serialNumber = "9876543";
        fields.powerOnSeconds = 0xFFFFFFFFu;   // 1193046 hours: never negative
        fields.backlightOnSeconds = 3600 * 42 + 3599;
        fields.brightness = 65;
        fields.status0 = 0x01;  // backlight fault
        fields.status1 = f.status1;
        spec.inventory = fields.bytes();
        spec.osd = usbemu::MakeOsd(15);
        bus().plug(spec);
        Enumerate();
        ASSERT_EQ(list->getNumDisplays(), 1);
        DisplayInformation d = Record();

        EXPECT_EQ(d.bus, "USB");
        EXPECT_EQ(d.deviceCategory, "Display");
        EXPECT_EQ(d.firmwareRevision, "0207");
        EXPECT_EQ(d.manufactureDate, edid.manufactureDate);
        EXPECT_EQ(d.manufacturerName, "ABC");
        EXPECT_EQ(d.mechanicalRevision, "Uknown");
        EXPECT_EQ(d.physicalDeviceName, "7431");
        EXPECT_EQ(d.modelName, "B22");
        EXPECT_EQ(d.serialNumber, "9876543");
        EXPECT_EQ(d.horizontalScreenSize, edid.horizontalScreenSize);
        EXPECT_EQ(d.verticalScreenSize, edid.verticalScreenSize);
        EXPECT_NE(d.horizontalScreenSize, 0u);
        EXPECT_EQ(d.horizontalResolution, 1366u);
        EXPECT_EQ(d.verticalResolution, 768u);
        EXPECT_EQ(d.refreshRate, 59u);
        EXPECT_EQ(d.supportedResolutionsAndRefreshRates, edid.supportedResolutionsAndRefreshRates);
        EXPECT_FALSE(d.supportedResolutionsAndRefreshRates.empty());
        EXPECT_EQ(d.preferredResolutionAndRefreshRate, edid.preferredResolutionAndRefreshRate);
        EXPECT_EQ(d.displayTechnology, 3);
        EXPECT_EQ(d.scanMode, 2);
        EXPECT_EQ(d.supportsColor, edid.supportsColor);
        EXPECT_EQ(d.supportedVideoSources, f.sources);
        EXPECT_EQ(d.currentVideoSource, f.videoSource);
        EXPECT_EQ(d.lightSourceType, f.lightSourceType);
        EXPECT_EQ(d.lightSourceIlluminationType, 2);
        EXPECT_EQ(d.lightSourceCount, 2);
        EXPECT_EQ(d.recommendedBrightnessLevel, 22);
        EXPECT_EQ(d.currentBrightnessLevel, 65);
        EXPECT_EQ(d.backlightState, 2);
        EXPECT_EQ(d.hoursPoweredCount, 1193046u);
        EXPECT_EQ(d.currentBacklightPowerOnHours, 42u);
        EXPECT_EQ(d.powerManagementModes, edid.powerManagementModes);

        // A second build gives the same record; list fields are appended to.
        DisplayInformation again = Record();
        EXPECT_EQ(again.supportedVideoSources, d.supportedVideoSources);
        Record();
        list.reset();
    }
}

TEST_F(DeviceTest, UnknownOsdModeAndBadEdidStillList)
{
    MonitorSpec spec = Monitor("m", "0000002");
    spec.osd = usbemu::MakeOsd(14);  // the hole in the mode table
    std::vector<uint8_t> edid = usbemu::MakeEdid();
    edid[127] ^= 0xFF;  // bad checksum: not decoded
    spec.edid = edid;
    bus().plug(spec);
    Enumerate();
    ASSERT_EQ(list->getNumDisplays(), 1);
    DisplayInformation d = Record();
    EXPECT_EQ(d.horizontalResolution, 0u);
    EXPECT_EQ(d.verticalResolution, 0u);
    EXPECT_EQ(d.refreshRate, 0u);
    EXPECT_EQ(d.manufacturerName, "");
    EXPECT_TRUE(Has("getEdid128() 1"));
}

TEST_F(DeviceTest, DumpBytes)
{
    unsigned char bytes[48];
    for (int i = 0; i < 48; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 5);
    }
    QavHidDisplay::dumpBytes(bytes, 48, "Title");
    QavHidDisplay::dumpBytes(bytes, 0, "Nothing");
    QavHidDisplay::dumpBytes(nullptr, 8, "Null");
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Title:");
    EXPECT_EQ(lines[1], "00 05 0a 0f 14 19 1e 23 ");
    EXPECT_EQ(lines[6], "c8 cd d2 d7 dc e1 e6 eb ");
}

TEST_F(DeviceTest, InterfaceCountAndEndpointChecks)
{
    MonitorSpec spec = Monitor("m", "0000003");
    spec.numInterfaces = 3;  // accepted, interface 0 used
    bus().plug(spec);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 1);
    list.reset();
    bus().unplugAll();

    spec.numInterfaces = 4;
    bus().plug(spec);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(Has("too many interfaces in config: 4\n"));
    EXPECT_EQ(bus().opens("m"), 0);  // rejected before it is opened
    list.reset();
    bus().unplugAll();

    spec.numInterfaces = 0;
    bus().plug(spec);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(Has("not enough interfaces in config\n"));
    EXPECT_EQ(bus().opens("m"), 0);
    list.reset();
    bus().unplugAll();

    spec.numInterfaces = 1;
    spec.numEndpoints = 0;
    bus().plug(spec);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(Has("no endpoints in interface config\n"));
    EXPECT_EQ(bus().opens("m"), 0);
    list.reset();
    bus().unplugAll();

    // A first endpoint that cannot deliver input reports counts as none:
    // an OUT endpoint would be written to, a bulk one is not the HID pipe.
    struct {
        uint8_t address, attributes;
    } const others[] = {{0x01, 3}, {0x81, 2}, {0x02, 2}};
    spec.numEndpoints = 2;
    for (const auto& other : others) {
        SCOPED_TRACE(testing::Message() << "endpoint 0x" << std::hex << int(other.address) << " type "
                                        << int(other.attributes));
        spec.endpoint = other.address;
        spec.endpointAttributes = other.attributes;
        ResetLog();
        bus().plug(spec);
        ExpectLeftOut("no endpoints in interface config\n");
        EXPECT_EQ(Count("no endpoints in interface config\n"), 1);
        EXPECT_EQ(bus().opens("m"), 0);
        EXPECT_EQ(bus().endpointWrites("m"), 0);
        EXPECT_TRUE(bus().wire("m").empty());
        list.reset();
        bus().unplugAll();
    }
}

TEST_F(DeviceTest, OpenFails)
{
    MonitorSpec spec = Monitor("m", "0000004");
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::OpenFails;
    bus().setFault("m", fault);
    ExpectLeftOut("QavHidDisplay::initialise - failed to open sysfs device");
}

TEST_F(DeviceTest, KernelDriverIsDetachedBeforeTheClaim)
{
    MonitorSpec spec = Monitor("m", "0000005");
    spec.kernelDriverBound = true;
    bus().plug(spec);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 1);
    EXPECT_TRUE(Has("Claimed interface 0"));
    EXPECT_TRUE(Has("HidIo::releaseInterface - interface 0 released, result=0"));
    EXPECT_EQ(bus().openFiles("m"), 0);
    EXPECT_EQ(bus().interfaceHolder("m"), "usbhid");
    // Given back when the read was done, with the list still alive: the
    // kernel driver is bound again, and another program can detach and
    // claim it.
    {
        ClientHandle other("m");
        ASSERT_NE(other.handle, nullptr);
        EXPECT_EQ(libusb_kernel_driver_active(other.handle, 0), 1);
        EXPECT_EQ(libusb_detach_kernel_driver(other.handle, 0), 0);
        EXPECT_EQ(libusb_claim_interface(other.handle, 0), 0);
        EXPECT_EQ(libusb_release_interface(other.handle, 0), 0);
        libusb_attach_kernel_driver(other.handle, 0);
        EXPECT_EQ(libusb_kernel_driver_active(other.handle, 0), 1);
    }
    // The next enumeration reads it again.
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 1);
    list.reset();
    bus().unplugAll();

    // A failing driver query goes straight to the claim.
    spec.kernelDriverBound = false;
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::GetDriverFails;
    bus().setFault("m", fault);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 1);
}

TEST_F(DeviceTest, DetachFails)
{
    MonitorSpec spec = Monitor("m", "0000006");
    spec.kernelDriverBound = true;
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::DetachFails;
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::claimInterface - trying detach the current driver from interface #0, error=-99");
    EXPECT_TRUE(bus().wire("m").empty());
}

// EBUSY on the claim: another program holds the interface. Tried five
// times in all; a holder that lets go before the last try is no obstacle.
TEST_F(DeviceTest, BusyClaimIsTriedAgainThenLeftOut)
{
    MonitorSpec spec = Monitor("m", "0000007");
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::ClaimFails;
    fault.times = QavHidDisplay::CLAIM_TRIES - 1;
    bus().setFault("m", fault);
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 1);
    EXPECT_EQ(Count("HidIo::claimInterface - interface 0 is held by another program"), QavHidDisplay::CLAIM_TRIES - 1);
    EXPECT_FALSE(HasPrefix("HidIo::claimInterface - cannot claim"));
    list.reset();

    fault.times = QavHidDisplay::CLAIM_TRIES;
    bus().setFault("m", fault);
    bus().clearWire("m");
    ResetLog();
    Enumerate();
    EXPECT_EQ(list->getNumDisplays(), 0);
    EXPECT_TRUE(bus().wire("m").empty());
    EXPECT_EQ(Count("HidIo::claimInterface - interface 0 is held by another program"), QavHidDisplay::CLAIM_TRIES);
    // Not an error: an INFO line naming the place, no "bad device init".
    char line[160];
    snprintf(line, sizeof(line),
             "QavHidDisplayList::addQavHidDisplay - bus 001 device %03d (04b3:4676) is in use by another program; "
             "not read, left out until it can be read",
             bus().address("m"));
    EXPECT_EQ(Count(line), 1) << LogText();
    EXPECT_EQ(Count("QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init"), 0);
    ASSERT_EQ(list->getReports().size(), 1u);
    EXPECT_EQ(list->getReports()[0].state, DisplayReport::BUSY);
    EXPECT_TRUE(list->getReports()[0].deviceId.empty());
}

TEST_F(DeviceTest, SetReportFailsOnTheInventory)
{
    MonitorSpec spec = Monitor("m", "0000008");
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::SetReportFails;
    fault.command = Command::Inventory;
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::setReport - failed, 0xffff");
    EXPECT_TRUE(Has("QavHidDisplay::initialise - getInventory failed"));
}

TEST_F(DeviceTest, ReadFailuresEndTheExchange)
{
    MonitorSpec spec = Monitor("m", "0000009");
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::ReadFails;  // LIBUSB_ERROR_IO
    fault.command = Command::Edid;
    fault.readIndex = 1;
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - failed, 0xffffffff");
    std::vector<WireEvent> wire = bus().wire("m");
    ASSERT_EQ(wire.size(), 2u);  // no OSD request after the failed EDID
    EXPECT_EQ(wire[1].report[1], 0x0B);
    EXPECT_FALSE(Has("getEdid128() 1"));
    EXPECT_TRUE(Has("getEdid128() 0"));
    list.reset();
    bus().unplugAll();

    ResetLog();
    fault.kind = FaultKind::Stall;  // LIBUSB_ERROR_PIPE
    fault.command = Command::Osd;
    fault.readIndex = 0;
    bus().plug(spec);
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - failed, 0xfffffff7");
}

TEST_F(DeviceTest, ReadTimeout)
{
    MonitorSpec spec = Monitor("m", "0000010");
    bus().plug(spec);
    Fault fault;
    fault.kind = FaultKind::ReadTimeout;  // costs the full 3000 ms
    fault.command = Command::Inventory;
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - failed, 0xfffffff9");
    EXPECT_TRUE(Has("QavHidDisplay::initialise - getInventory failed"));
}

// A report that arrives incomplete is not read as zeros: the exchange fails
// and the monitor is left out, at any exchange and any read of it.
TEST_F(DeviceTest, ShortReadEndsTheExchange)
{
    MonitorSpec spec = Monitor("m", "0000011");
    Fault fault;
    fault.kind = FaultKind::ShortRead;
    fault.command = Command::Inventory;
    fault.shortLength = 10;  // machine and two characters of the model arrive
    bus().plug(spec);
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - short read, 10 of 48 bytes");
    EXPECT_TRUE(Has("QavHidDisplay::initialise - getInventory failed"));
    list.reset();
    bus().unplugAll();

    // One byte missing from the last read of the EDID.
    ResetLog();
    fault.command = Command::Edid;
    fault.readIndex = 2;
    fault.shortLength = 47;
    bus().plug(spec);
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - short read, 47 of 48 bytes");
    EXPECT_TRUE(Has("getEdid128() 0"));
    list.reset();
    bus().unplugAll();

    // An empty report.
    ResetLog();
    fault.command = Command::Osd;
    fault.readIndex = 0;
    fault.shortLength = 0;
    bus().plug(spec);
    bus().setFault("m", fault);
    ExpectLeftOut("HidIo::interruptRead - short read, 0 of 48 bytes");
}

TEST_F(DeviceTest, MonitorVanishingMidExchange)
{
    MonitorSpec spec = Monitor("m", "0000012");
    bus().plug(spec);
    bus().plug(Monitor("other", "0000013"));
    Fault fault;
    fault.kind = FaultKind::VanishMidExchange;
    fault.command = Command::Edid;
    bus().setFault("m", fault);
    Enumerate();
    ASSERT_EQ(list->getNumDisplays(), 1);  // the other monitor is still listed
    std::string id;
    list->getDisplayAt(0)->getDeviceId(id);
    EXPECT_EQ(id, "7427-A10-0000013");
    EXPECT_TRUE(HasPrefix("HidIo::interruptRead - failed, 0x"));
    EXPECT_EQ(Count("QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init"), 1);
}

TEST_F(DeviceTest, TerminateIsRepeatable)
{
    {
        QavHidDisplay display;
        display.terminate();
        display.terminate();
    }
    std::vector<std::string> lines = LogLines();
    std::vector<std::string> expected = {"QavHidDisplay Constructed",     "QavHidDisplay::terminate",
                                         "QavHidDisplay::terminate - Ok", "QavHidDisplay::terminate",
                                         "QavHidDisplay::terminate - Ok", "QavHidDisplay::terminate",
                                         "QavHidDisplay::terminate - Ok", "QavHidDisplay Destroyed"};
    // The decoders add their own construction lines; keep ours in order.
    std::vector<std::string> ours;
    for (const std::string& l : lines) {
        if (l.compare(0, 13, "QavHidDisplay") == 0) {
            ours.push_back(l);
        }
    }
    EXPECT_EQ(ours, expected);
}
