#include <gtest/gtest.h>

#include "EmulatedBus.h"

namespace {

TEST(Reports, InventoryFieldsLayOutTheReport)
{
    usbemu::InventoryFields fields;
    fields.firmwareRevision = "01";          // padded with NUL
    fields.machine = "7427XYZ";              // cut to 4
    fields.model = "B20";
    fields.serialNumber = "AB12345";
    fields.powerOnSeconds = 0x01020304;
    fields.backlightOnSeconds = 3600;
    fields.brightness = 200;
    fields.status0 = 1;
    fields.status1 = 0x03;
    fields.status2to7 = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> report = fields.bytes();
    ASSERT_EQ(report.size(), 48u);
    EXPECT_EQ(std::string(report.begin(), report.begin() + 4), std::string("01\0\0", 4));
    EXPECT_EQ(std::string(report.begin() + 4, report.begin() + 8), "7427");
    EXPECT_EQ(std::string(report.begin() + 8, report.begin() + 11), "B20");
    EXPECT_EQ(std::string(report.begin() + 11, report.begin() + 18), "AB12345");
    EXPECT_EQ(report[18], 0x04);
    EXPECT_EQ(report[21], 0x01);
    EXPECT_EQ(report[22], 0x10);
    EXPECT_EQ(report[23], 0x0E);
    EXPECT_EQ(report[26], 200);
    EXPECT_EQ(report[27], 1);
    EXPECT_EQ(report[28], 0x03);
    EXPECT_EQ(report[29], 1);
    EXPECT_EQ(report[34], 6);
    for (std::size_t i = 35; i < report.size(); ++i) {
        EXPECT_EQ(report[i], 0) << i;
    }
}

uint8_t Sum(const std::vector<uint8_t>& bytes, std::size_t from)
{
    uint8_t sum = 0;
    for (std::size_t i = from; i < from + 128; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

TEST(Reports, MadeEdidIsAValidBaseBlockAndChecksumsAreFixedPerBlock)
{
    std::vector<uint8_t> edid = usbemu::MakeEdid();
    ASSERT_EQ(edid.size(), 128u);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_TRUE(std::equal(header, header + 8, edid.begin()));
    EXPECT_EQ(Sum(edid, 0), 0);
    // "ABC" packed as three 5-bit letters
    EXPECT_EQ((edid[8] << 8 | edid[9]), (1 << 10) | (2 << 5) | 3);

    edid.resize(256, 0x55);
    edid[126] = 1;
    usbemu::FixEdidChecksum(edid);
    EXPECT_EQ(Sum(edid, 0), 0);
    EXPECT_EQ(Sum(edid, 128), 0);

    std::vector<uint8_t> osd = usbemu::MakeOsd(4);
    ASSERT_EQ(osd.size(), 48u);
    EXPECT_EQ(osd[15], 4);
}

}  // namespace
