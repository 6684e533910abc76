// The compiled-in table of supported monitors.
#include <gtest/gtest.h>

#include "SupportedHidDisplays.h"

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
