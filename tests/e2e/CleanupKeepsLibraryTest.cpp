// A terminating cleanup that gives up waiting for an indication thread must
// leave the library mapped, so that the object manager's unload cannot pull
// the code from under the thread. Its own binary: the library stays loaded
// for the rest of the process.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "InventoryFields.h"

using cimhost::CimHost;
using usbemu::EmulatedBus;

TEST(CleanupKeepsLibrary, AThreadOutlivingTheCleanupKeepsTheLibraryMapped)
{
    CimHost host;
    std::string error;
    ASSERT_TRUE(host.load(PNLMON_PROVIDER_PATH, &error)) << error;
    ASSERT_TRUE(host.authorizeFilter("CIM_InstCreation").ok());
    ASSERT_TRUE(host.activateFilter("CIM_InstCreation", true).ok());
    ASSERT_TRUE(host.enableIndications());
    // The listener takes longer than the cleanup waits (5 s).
    host.delayDeliverIndication(std::chrono::milliseconds(6500));
    usbemu::MonitorSpec spec;
    spec.name = "slow";
    spec.inventory = usbemu::InventoryFields().bytes();
    EmulatedBus::instance().plug(spec);
    ASSERT_TRUE(host.enumerateInstanceNames("root/cimv2", "QAV_Display").ok());
    ASSERT_EQ(1u, host.counters().threadsStarted);

    EXPECT_TRUE(host.cleanupInstanceMI(true).ok());
    EXPECT_EQ(0u, host.counters().deliveries) << "the cleanup returned before the delivery";
    EXPECT_TRUE(host.cleanupIndicationMI(true).ok());
    // The host closes its handle once the thread is over; the library must
    // still be there.
    EXPECT_TRUE(host.unload());
    EXPECT_EQ(1u, host.counters().deliveries);
    void* still = dlopen(PNLMON_PROVIDER_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(nullptr, still);
    if (still != nullptr) {
        dlclose(still);
    }
    EmulatedBus::instance().unplugAll();
}
