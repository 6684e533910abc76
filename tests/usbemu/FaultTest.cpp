// Every fault kind of the bench, with the result the real libusb gives for it.
#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <string>

#include "EmulatedBus.h"
#include "UsbHost.h"

namespace {

using usbemu::Command;
using usbemu::EmulatedBus;
using usbemu::Fault;
using usbemu::FaultKind;
using usbemu::MonitorSpec;

Fault Make(FaultKind kind, int times = -1)
{
    Fault fault;
    fault.kind = kind;
    fault.times = times;
    return fault;
}

// A plugged monitor, opened (and claimed unless told otherwise).
class FaultTest : public testing::Test {
protected:
    void SetUp() override
    {
        MonitorSpec spec;
        spec.name = "m";
        bus().plug(spec);
        address = bus().address("m");
        ASSERT_EQ(UsbHost::get().open(address, &handle), 0);
    }

    void TearDown() override
    {
        if (handle != nullptr) {
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        bus().unplugAll();
    }

    static EmulatedBus& bus() { return EmulatedBus::instance(); }

    void Claim() { ASSERT_EQ(libusb_claim_interface(handle, 0), 0); }

    UsbHost::Exchange Exchange(uint8_t command, int reads, uint8_t selector = 0, unsigned timeout = 1000)
    {
        return UsbHost::get().exchange(handle, command, selector, reads, 0x81, timeout);
    }

    int address = -1;
    libusb_device_handle* handle = nullptr;
};

TEST_F(FaultTest, KernelDriverQueryAndDetachFailures)
{
    bus().setFault("m", Make(FaultKind::GetDriverFails));
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), LIBUSB_ERROR_OTHER);
    bus().setFault("m", Make(FaultKind::DetachFails));
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_OTHER);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    bus().clearFault("m");
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    Claim();
}

TEST_F(FaultTest, ClaimFailsBusyAsOftenAsTold)
{
    bus().setFault("m", Make(FaultKind::ClaimFails, 2));
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_EQ(bus().wire("m").size(), 0u);
}

TEST_F(FaultTest, OpenFailsWhileTheFaultLasts)
{
    bus().setFault("m", Make(FaultKind::OpenFails));
    libusb_device_handle* second = nullptr;
    EXPECT_EQ(UsbHost::get().open(address, &second), LIBUSB_ERROR_IO);
    EXPECT_EQ(bus().opens("m"), 1);  // the fixture's open only
    bus().clearFault("m");
    ASSERT_EQ(UsbHost::get().open(address, &second), 0);
    EXPECT_EQ(bus().opens("m"), 2);
    libusb_close(second);
}

TEST_F(FaultTest, SetReportFailsWithAStall)
{
    Claim();
    Fault fault = Make(FaultKind::SetReportFails, 1);
    fault.command = Command::Edid;
    bus().setFault("m", fault);
    EXPECT_EQ(Exchange(0x01, 1).result, 0);             // other commands pass
    UsbHost::Exchange edid = Exchange(0x0B, 3);
    EXPECT_EQ(edid.setReport, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(Exchange(0x0B, 3).result, 0);             // fired once
    auto wire = bus().wire("m");
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_FALSE(wire[0].rejected);
    EXPECT_TRUE(wire[1].rejected);
    EXPECT_EQ(wire[1].readsServed, 0);
    EXPECT_EQ(wire[2].readsServed, 3);
}

TEST_F(FaultTest, ReadFailuresHitTheChosenRead)
{
    Claim();
    Fault fault = Make(FaultKind::ReadFails, 1);
    fault.command = Command::Edid;
    fault.readIndex = 2;
    bus().setFault("m", fault);
    UsbHost::Exchange failed = Exchange(0x0B, 3);
    EXPECT_EQ(failed.result, LIBUSB_ERROR_IO);
    EXPECT_EQ(failed.lengths.size(), 2u);
    EXPECT_EQ(bus().wire("m").back().readsServed, 2);

    bus().setFault("m", Make(FaultKind::Stall));
    EXPECT_EQ(Exchange(0x01, 1).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(Exchange(0x0D, 1).result, LIBUSB_ERROR_PIPE);  // until cleared
    bus().clearFault("m");
    EXPECT_EQ(Exchange(0x0D, 1).result, 0);
}

TEST_F(FaultTest, ShortReadTransfersOnlyPartOfTheReport)
{
    Claim();
    Fault fault = Make(FaultKind::ShortRead, 1);
    fault.shortLength = 10;
    bus().setFault("m", fault);
    UsbHost::Exchange inventory = Exchange(0x01, 1);
    ASSERT_EQ(inventory.result, 0);
    ASSERT_EQ(inventory.lengths, std::vector<int>{10});
    std::vector<uint8_t> expected = usbemu::InventoryFields{}.bytes();
    std::fill(expected.begin() + 10, expected.end(), 0);
    EXPECT_EQ(inventory.bytes, expected);
}

TEST_F(FaultTest, ReadTimeoutCostsTheWholeTimeoutThenTheMonitorRecovers)
{
    Claim();
    bus().setFault("m", Make(FaultKind::ReadTimeout, 1));
    auto start = std::chrono::steady_clock::now();
    UsbHost::Exchange timedOut = Exchange(0x0D, 1, 0, 200);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(timedOut.result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    UsbHost::Exchange next = Exchange(0x0D, 1);
    EXPECT_EQ(next.result, 0);
    EXPECT_EQ(next.bytes, usbemu::MakeOsd(11));
}

TEST_F(FaultTest, VanishMidExchangeUnplugsAfterTheSetReport)
{
    Claim();
    Fault fault = Make(FaultKind::VanishMidExchange);
    fault.command = Command::Osd;
    bus().setFault("m", fault);
    EXPECT_EQ(Exchange(0x01, 1).result, 0);
    UsbHost::Exchange osd = Exchange(0x0D, 1);
    EXPECT_EQ(osd.setReport, 48);
    EXPECT_EQ(osd.result, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_TRUE(UsbHost::get().list().empty());
    EXPECT_EQ(bus().collectVanished(), std::vector<std::string>{"m"});
    EXPECT_FALSE(bus().isPlugged("m"));
    EXPECT_EQ(bus().wire("m").size(), 2u);
    EXPECT_THROW(bus().setFault("m", Fault{}), std::out_of_range);
}

}  // namespace
