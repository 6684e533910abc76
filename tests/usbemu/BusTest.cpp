// The bench seen through the real libusb: listing, descriptors, exchanges,
// the kernel driver, unplugging, and the wire record.
#include <gtest/gtest.h>
#include <libusb.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "EmulatedBus.h"
#include "Sandbox.h"
#include "UsbHost.h"

namespace {

using usbemu::EmulatedBus;
using usbemu::MonitorSpec;

class BusTest : public testing::Test {
protected:
    void TearDown() override { EmulatedBus::instance().unplugAll(); }

    static MonitorSpec Monitor(const std::string& name, uint16_t vid = 0x04B3, uint16_t pid = 0x4676)
    {
        MonitorSpec spec;
        spec.name = name;
        spec.vid = vid;
        spec.pid = pid;
        return spec;
    }

    // Plugs, then returns the monitor's USB address.
    static int Plug(const MonitorSpec& spec)
    {
        EmulatedBus::instance().plug(spec);
        return EmulatedBus::instance().address(spec.name);
    }

    static bool Listed(int address, uint16_t pid)
    {
        auto devices = UsbHost::get().list();
        return std::any_of(devices.begin(), devices.end(), [&](const UsbHost::Device& device) {
            return device.address == address && device.pid == pid;
        });
    }
};

TEST_F(BusTest, PluggedMonitorIsListedWithItsDescriptors)
{
    MonitorSpec spec = Monitor("sarn", 0x0F66, 0x467A);
    spec.bcdDevice = 0x0105;
    spec.numInterfaces = 3;
    spec.endpoint = 0x82;
    spec.maxPacketSize = 48;
    int address = Plug(spec);
    ASSERT_GE(address, 2);

    libusb_device* device = UsbHost::get().find(address);
    ASSERT_NE(device, nullptr);
    libusb_device_descriptor descriptor;
    ASSERT_EQ(libusb_get_device_descriptor(device, &descriptor), 0);
    EXPECT_EQ(descriptor.idVendor, 0x0F66);
    EXPECT_EQ(descriptor.idProduct, 0x467A);
    EXPECT_EQ(descriptor.bcdDevice, 0x0105);
    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0);
    ASSERT_EQ(config->bNumInterfaces, 3);
    const libusb_interface_descriptor& monitor = config->interface[0].altsetting[0];
    EXPECT_EQ(monitor.bInterfaceClass, LIBUSB_CLASS_HID);
    ASSERT_EQ(monitor.bNumEndpoints, 1);
    EXPECT_EQ(monitor.endpoint[0].bEndpointAddress, 0x82);
    EXPECT_EQ(monitor.endpoint[0].wMaxPacketSize, 48);
    EXPECT_EQ(monitor.endpoint[0].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_INTERRUPT);
    libusb_free_config_descriptor(config);
    libusb_unref_device(device);
    EXPECT_EQ(EmulatedBus::instance().opens("sarn"), 0);
}

TEST_F(BusTest, DescriptorVariants)
{
    MonitorSpec none = Monitor("none");
    none.numInterfaces = 0;
    MonitorSpec four = Monitor("four", 0x04B3, 0x4677);
    four.numInterfaces = 4;
    MonitorSpec bare = Monitor("bare", 0x04B3, 0x4678);
    bare.numEndpoints = 0;
    struct Expected {
        int address;
        int interfaces;
        int endpoints;
    } expected[] = {{Plug(none), 0, -1}, {Plug(four), 4, 1}, {Plug(bare), 1, 0}};
    for (const Expected& want : expected) {
        libusb_device* device = UsbHost::get().find(want.address);
        ASSERT_NE(device, nullptr);
        libusb_config_descriptor* config = nullptr;
        ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0) << want.address;
        EXPECT_EQ(config->bNumInterfaces, want.interfaces);
        if (want.endpoints >= 0) {
            EXPECT_EQ(config->interface[0].altsetting[0].bNumEndpoints, want.endpoints);
        }
        libusb_free_config_descriptor(config);
        libusb_unref_device(device);
    }
    EXPECT_THROW(EmulatedBus::instance().plug(none), std::invalid_argument);  // name in use
}

TEST_F(BusTest, ExchangesReturnTheConfiguredReportsAndAreRecorded)
{
    MonitorSpec spec = Monitor("dp", 0x0F66, 0x467A);
    usbemu::InventoryFields fields;
    fields.serialNumber = "7654321";
    fields.status1 = 0x00;
    spec.inventory = fields.bytes();
    spec.edid = usbemu::MakeEdid();
    spec.edid.resize(256);
    for (std::size_t i = 128; i < 256; ++i) {
        spec.edid[i] = static_cast<uint8_t>(i);
    }
    spec.osd = usbemu::MakeOsd(4);
    int address = Plug(spec);

    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    UsbHost& host = UsbHost::get();

    UsbHost::Exchange inventory = host.exchange(handle, 0x01, 0, 1);
    ASSERT_EQ(inventory.result, 0);
    EXPECT_EQ(inventory.setReport, 48);
    EXPECT_EQ(inventory.bytes, spec.inventory);

    UsbHost::Exchange base = host.exchange(handle, 0x0B, 0, 3);
    ASSERT_EQ(base.result, 0);
    std::vector<uint8_t> expected(spec.edid.begin(), spec.edid.begin() + 128);
    expected.resize(144, 0);
    EXPECT_EQ(base.bytes, expected);

    UsbHost::Exchange both = host.exchange(handle, 0x0B, 1, 6);
    ASSERT_EQ(both.result, 0);
    expected = spec.edid;
    expected.resize(288, 0);
    EXPECT_EQ(both.bytes, expected);
    EXPECT_EQ(both.lengths, std::vector<int>(6, 48));

    UsbHost::Exchange osd = host.exchange(handle, 0x0D, 0, 1);
    ASSERT_EQ(osd.result, 0);
    EXPECT_EQ(osd.bytes, spec.osd);

    libusb_release_interface(handle, 0);
    libusb_close(handle);

    std::vector<usbemu::WireEvent> wire = EmulatedBus::instance().wire("dp");
    ASSERT_EQ(wire.size(), 4u);
    const int reads[] = {1, 3, 6, 1};
    const uint8_t commands[] = {0x01, 0x0B, 0x0B, 0x0D};
    for (std::size_t i = 0; i < wire.size(); ++i) {
        EXPECT_EQ(wire[i].bmRequestType, 0x21);
        EXPECT_EQ(wire[i].bRequest, 0x09);
        EXPECT_EQ(wire[i].wValue, 0x0200);
        EXPECT_EQ(wire[i].wIndex, 0);
        EXPECT_EQ(wire[i].wLength, 48);
        ASSERT_EQ(wire[i].report.size(), 48u);
        EXPECT_EQ(wire[i].report[1], commands[i]);
        EXPECT_EQ(wire[i].readsServed, reads[i]);
        EXPECT_FALSE(wire[i].rejected);
    }
    EXPECT_EQ(wire[2].report[2], 1);
    EXPECT_EQ(EmulatedBus::instance().opens("dp"), 1);
    EmulatedBus::instance().clearWire("dp");
    EXPECT_TRUE(EmulatedBus::instance().wire("dp").empty());
}

TEST_F(BusTest, DefaultsAnswerAndWrongRequestsStall)
{
    int address = Plug(Monitor("plain"));
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    UsbHost::Exchange inventory = UsbHost::get().exchange(handle, 0x01, 0, 1);
    ASSERT_EQ(inventory.result, 0);
    EXPECT_EQ(inventory.bytes, usbemu::InventoryFields{}.bytes());
    UsbHost::Exchange osd = UsbHost::get().exchange(handle, 0x0D, 0, 1);
    EXPECT_EQ(osd.bytes, usbemu::MakeOsd(11));

    // A SET_REPORT of the wrong report type, and one of the wrong length.
    uint8_t report[48] = {0, 0x01};
    EXPECT_EQ(libusb_control_transfer(handle, 0x21, 0x09, 0x0300, 0, report, 48, 500), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_control_transfer(handle, 0x21, 0x09, 0x0200, 0, report, 32, 500), LIBUSB_ERROR_PIPE);
    std::vector<usbemu::WireEvent> wire = EmulatedBus::instance().wire("plain");
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_TRUE(wire[2].rejected);
    EXPECT_EQ(wire[2].wValue, 0x0300);
    EXPECT_EQ(wire[3].wLength, 32);
    EXPECT_EQ(wire[3].readsServed, 0);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
}

TEST_F(BusTest, BoundKernelDriverMustBeDetachedBeforeTheClaim)
{
    MonitorSpec spec = Monitor("bound");
    spec.kernelDriverBound = true;
    int address = Plug(spec);
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    // Without a claim the request cannot reach an interface the driver holds.
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, LIBUSB_ERROR_IO);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, 0);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
}

TEST_F(BusTest, HostMistakesGetTheErrorsOfARealDevice)
{
    int address = Plug(Monitor("strict"));
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    EXPECT_EQ(libusb_claim_interface(handle, 1), LIBUSB_ERROR_NOT_FOUND);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    // Another endpoint than the interface's one.
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1, 0x82).result, LIBUSB_ERROR_IO);
    // A buffer too small for the 48-byte report.
    uint8_t report[48] = {0, 0x0D};
    ASSERT_EQ(libusb_control_transfer(handle, 0x21, 0x09, 0x0200, 0, report, 48, 500), 48);
    uint8_t small[16];
    int transferred = 0;
    EXPECT_EQ(libusb_interrupt_transfer(handle, 0x81, small, sizeof small, &transferred, 500),
              LIBUSB_ERROR_OVERFLOW);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
}

TEST_F(BusTest, UnplugRemovesTheMonitorFromTheNextList)
{
    int tilo = Plug(Monitor("tilo"));
    int merv = Plug(Monitor("merv", 0x04B3, 0x4678));
    EXPECT_TRUE(Listed(tilo, 0x4676));
    EXPECT_TRUE(Listed(merv, 0x4678));
    EmulatedBus::instance().unplug("tilo");
    EXPECT_FALSE(EmulatedBus::instance().isPlugged("tilo"));
    EXPECT_FALSE(Listed(tilo, 0x4676));
    EXPECT_TRUE(Listed(merv, 0x4678));
    EmulatedBus::instance().unplug("tilo");  // twice: nothing happens
    EmulatedBus::instance().unplugAll();
    EXPECT_TRUE(UsbHost::get().list().empty());
}

TEST_F(BusTest, AddressesAreReusedOverManyPlugs)
{
    // More plugs than there are addresses; every one must show up and leave.
    int wrong = 0;
    for (int i = 0; i < 300; ++i) {
        uint16_t pid = static_cast<uint16_t>(0x4676 + i % 4);
        int address = Plug(Monitor("churn", 0x04B3, pid));
        wrong += Listed(address, pid) ? 0 : 1;
        EmulatedBus::instance().unplug("churn");
        wrong += UsbHost::get().list().empty() ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(BusTest, UnplugWhileOpenFailsTheNextExchange)
{
    int address = Plug(Monitor("gone"));
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    ASSERT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, 0);
    EmulatedBus::instance().unplug("gone");
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(Listed(address, 0x4676));
    EXPECT_EQ(libusb_release_interface(handle, 0), LIBUSB_ERROR_NO_DEVICE);
    libusb_close(handle);
    // The record outlives the monitor.
    EXPECT_EQ(EmulatedBus::instance().wire("gone").size(), 1u);
}

TEST_F(BusTest, PullDuringAPendingReadGivesTheReadBackWithNoDevice)
{
    // As with the kernel: the read waiting for a report ends at the pull,
    // with NO_DEVICE, instead of waiting out its timeout (or for good).
    for (int round = 0; round < 5; ++round) {
        int address = Plug(Monitor("pulled"));
        libusb_device_handle* handle = nullptr;
        ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
        ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
        UsbHost::Exchange result;
        auto started = std::chrono::steady_clock::now();
        // An unknown command is accepted and never answered: the read waits.
        std::thread reader([&] { result = UsbHost::get().exchange(handle, 0x55, 0, 1, 0x81, 20000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + 20 * round));
        EmulatedBus::instance().unplug("pulled");
        reader.join();
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.result, LIBUSB_ERROR_NO_DEVICE);
        EXPECT_LT(took, std::chrono::seconds(5));
        EXPECT_EQ(libusb_release_interface(handle, 0), LIBUSB_ERROR_NO_DEVICE);
        libusb_close(handle);
    }
}

TEST_F(BusTest, PullBetweenOpenAndFirstRequestGivesNoDevice)
{
    // A node opened just before the pull keeps answering, with ENODEV.
    for (int round = 0; round < 20; ++round) {
        int address = Plug(Monitor("brief"));
        libusb_device_handle* handle = nullptr;
        ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
        EmulatedBus::instance().unplug("brief");
        EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_NO_DEVICE);
        libusb_close(handle);
    }
}

TEST_F(BusTest, ForkedChildrenSeeTheSameMonitors)
{
    // The parent has its own context already; a forked child makes another
    // one, as a test that runs the driver in a child would.
    int address = Plug(Monitor("shared", 0x04B3, 0x4679));
    ASSERT_TRUE(Listed(address, 0x4679));
    // libusb is not fork-safe: its event thread holds a lock while it takes
    // in a uevent, and a child forked at that moment hangs in libusb_init.
    // Let the parent's event thread finish with the plug first.
    usleep(50 * 1000);
    sandbox::ChildResult child = sandbox::RunInChild([address] {
        libusb_context* ctx = nullptr;
        if (libusb_init(&ctx) != 0) {
            return 10;
        }
        libusb_device** all = nullptr;
        ssize_t count = libusb_get_device_list(ctx, &all);
        int found = 0;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor;
            libusb_get_device_descriptor(all[i], &descriptor);
            if (libusb_get_device_address(all[i]) == address && descriptor.idProduct == 0x4679) {
                found = 1;
            }
        }
        libusb_free_device_list(all, 1);
        libusb_exit(ctx);
        return found ? 0 : 11;
    });
    EXPECT_EQ(child.exitCode, 0) << child.err;
    // The parent's context still follows the bus.
    EmulatedBus::instance().unplug("shared");
    EXPECT_FALSE(Listed(address, 0x4679));
}

}  // namespace
