// The compiled-in table of supported monitors.
#include <gtest/gtest.h>

#include "DeviceData.h"
#include "Inventory.h"
#include "Sandbox.h"
#include "SupportedHidDisplays.h"
#include "SupportedMonitorTable.h"

TEST(SupportedTable, HoldsTheFiveRowsInOrder)
{
    SupportedHidDisplays table;
    const posdev_list_t& rows = table.rows();
    ASSERT_EQ(rows.size(), 5u);
    const unsigned short expected[5][2] = {
        {0x04B3, 0x4676}, {0x04B3, 0x4677}, {0x04B3, 0x4678}, {0x04B3, 0x4679}, {0x0F66, 0x467A}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[i].vid, expected[i][0]) << i;
        EXPECT_EQ(rows[i].pid, expected[i][1]) << i;
    }
}

TEST(SupportedTable, MatchesOnlyListedPairs)
{
    SupportedHidDisplays table;
    for (unsigned short pid = 0x4676; pid <= 0x4679; ++pid) {
        EXPECT_TRUE(table.findMatchingDisplay(0x04B3, pid)) << std::hex << pid;
    }
    EXPECT_TRUE(table.findMatchingDisplay(0x0F66, 0x467A));

    EXPECT_FALSE(table.findMatchingDisplay(0x04B3, 0x467A));  // the pairing matters
    EXPECT_FALSE(table.findMatchingDisplay(0x0F66, 0x4676));
    EXPECT_FALSE(table.findMatchingDisplay(0x04B3, 0x4675));  // just outside the ranges
    EXPECT_FALSE(table.findMatchingDisplay(0x0F66, 0x467B));
    EXPECT_FALSE(table.findMatchingDisplay(0, 0));
}

// The bus scan, the inventory decoder and the device data all follow the
// one supported-monitor table: every row is scanned and gets its family,
// and a pair outside the table gets none anywhere.
void CheckTheThreeUsersOfTheTable()
{
    SupportedHidDisplays scan;
    ASSERT_EQ(SupportedMonitorTable::size(), scan.rows().size());
    const char report[35] = {};
    size_t index = 0;
    for (const SupportedMonitorTable::Row* row = SupportedMonitorTable::begin();
         row != SupportedMonitorTable::end(); ++row, ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(row->vid, scan.rows()[index].vid);
        EXPECT_EQ(row->pid, scan.rows()[index].pid);
        EXPECT_NE(SupportedMonitorTable::kFamilyUnknown, row->family);

        Inventory inventory;
        ASSERT_TRUE(inventory.initialise(report, sizeof(report), row->vid, row->pid));
        EXPECT_EQ(row->family == SupportedMonitorTable::kFamilySarn, inventory.isSarn());
        EXPECT_EQ(row->family == SupportedMonitorTable::kFamilyTilo ||
                      row->family == SupportedMonitorTable::kFamilyMerv,
                  inventory.isTilmerv());
        DeviceData data;
        data.setData(inventory, row->pid);
        EXPECT_EQ(row->family, data.device);
    }

    // Neighbours of the rows: a supported vendor with a product of the
    // other vendor, and products just outside the table.
    const unsigned short outside[][2] = {{0x04B3, 0x467A}, {0x0F66, 0x4676}, {0x04B3, 0x4675},
                                         {0x0F66, 0x467B}, {0, 0}};
    for (const auto& pair : outside) {
        SCOPED_TRACE(pair[1]);
        EXPECT_EQ(nullptr, SupportedMonitorTable::find(pair[0], pair[1]));
        EXPECT_FALSE(scan.findMatchingDisplay(pair[0], pair[1]));
        Inventory inventory;
        ASSERT_TRUE(inventory.initialise(report, sizeof(report), pair[0], pair[1]));
        EXPECT_FALSE(inventory.isSarn());
        EXPECT_FALSE(inventory.isTilmerv());
        DeviceData data;
        data.setData(inventory, pair[1]);
        EXPECT_EQ(DeviceData::kUnknown, data.device);
    }

    // The family follows the product id handed to the device data, within
    // the vendor of the inventory.
    Inventory tilo;
    ASSERT_TRUE(tilo.initialise(report, sizeof(report), 0x04B3, 0x4676));
    DeviceData data;
    data.setData(tilo, 0x4679);
    EXPECT_EQ(DeviceData::kMerv, data.device);
    data.setData(tilo, 0x467A);
    EXPECT_EQ(DeviceData::kUnknown, data.device);
}

TEST(SupportedTable, OneTableDrivesScanInventoryAndDeviceData)
{
    // In a child: the decoders create the logger, which the other tests of
    // this binary expect to create afresh in their own children.
    sandbox::ChildResult r = sandbox::RunInChild([] {
        CheckTheThreeUsersOfTheTable();
        return testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(0, r.exitCode) << r.out;
}
