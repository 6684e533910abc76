// Inventory report: field widths, counters, backlight and video input
// rules, rejection of short or missing buffers, and the dump lines.
#include <gtest/gtest.h>

#include "Inventory.h"
#include "LogCapture.h"
#include "TestReports.h"

namespace {

const unsigned short kTilmerv = 0x04B3;
const unsigned short kSarnVendor = 0x0F66;

bool Decode(Inventory& inventory, const Bytes& report, unsigned short vid = kTilmerv,
            unsigned short pid = 0x4676)
{
    return inventory.initialise(reinterpret_cast<const char*>(report.data()),
                                static_cast<unsigned int>(report.size()), vid, pid);
}

void ExpectEmpty(Inventory& inventory)
{
    EXPECT_EQ(0, inventory.vid);
    EXPECT_EQ(0, inventory.pid);
    EXPECT_TRUE(inventory.firmwareRevision.empty());
    EXPECT_TRUE(inventory.machine.empty());
    EXPECT_TRUE(inventory.model.empty());
    EXPECT_TRUE(inventory.serialNumber.empty());
    EXPECT_EQ(0u, inventory.powerOnHours);
    EXPECT_EQ(0u, inventory.backlightPowerOnHours);
    EXPECT_EQ(0, inventory.backlightBrightnessPercent);
    EXPECT_EQ(0, inventory.backlightFault);
    EXPECT_EQ("Unknown", inventory.getVideoSourceString());
}

void SetSeconds(Bytes& report, size_t offset, unsigned int seconds)
{
    for (int i = 0; i < 4; ++i) {
        report[offset + i] = static_cast<unsigned char>(seconds >> (8 * i));
    }
}

}  // namespace

TEST(InventoryInput, ShortOrMissingBufferIsRejectedAndLeavesTheRecordEmpty)
{
    LogCapture log = RunLogged([] {
        Inventory inventory;
        Bytes report = InventoryReport();
        report[28] = 0x0C;
        if (!Decode(inventory, report)) {
            return 10;
        }
        report.resize(34);
        if (Decode(inventory, report)) {
            return 11;
        }
        ExpectEmpty(inventory);
        if (inventory.initialise(nullptr, 48, kTilmerv, 0x4676)) {
            return 12;
        }
        ExpectEmpty(inventory);
        return ::testing::Test::HasFailure() ? 13 : 0;
    });
    EXPECT_EQ(0, log.exitCode);
    EXPECT_EQ((std::vector<std::string>{"Inventory::initialise - rawBytesLen - wanted 35, got 34",
                                        "Inventory::initialise - rawBytes - no buffer"}),
              log.messages("Error"));
}

TEST(InventoryFields, TextFieldsKeepTheirExactWidthIncludingNulBytes)
{
    Inventory inventory;
    Bytes report = InventoryReport("1.07", "4820", "5GB", std::string("ZK420\0\0", 7));
    ASSERT_TRUE(Decode(inventory, report));
    EXPECT_EQ("1.07", inventory.firmwareRevision);
    EXPECT_EQ("4820", inventory.machine);
    EXPECT_EQ("5GB", inventory.model);
    EXPECT_EQ(std::string("ZK420\0\0", 7), inventory.serialNumber);

    // Blanks are not trimmed.
    ASSERT_TRUE(Decode(inventory, InventoryReport("1", "48", "5", "ZK")));
    EXPECT_EQ("1   ", inventory.firmwareRevision);
    EXPECT_EQ("ZK     ", inventory.serialNumber);
}

TEST(InventoryFields, ALongerBufferDecodesLikeTheReportAlone)
{
    Bytes report = InventoryReport("2.01", "4821", "7GB", "SN12345");
    SetSeconds(report, 18, 7200);
    report[26] = 55;
    report[28] = 0x0C;
    Bytes padded = report;
    padded.resize(48, 0xEE);

    Inventory exact, longer;
    ASSERT_TRUE(Decode(exact, report));
    ASSERT_TRUE(Decode(longer, padded));
    EXPECT_EQ(exact.serialNumber, longer.serialNumber);
    EXPECT_EQ(exact.powerOnHours, longer.powerOnHours);
    EXPECT_EQ(exact.backlightBrightnessPercent, longer.backlightBrightnessPercent);
    EXPECT_EQ(exact.getVideoSourceString(), longer.getVideoSourceString());
}

TEST(InventoryFields, HourCountersAreWholeHoursOfLittleEndianSeconds)
{
    Inventory inventory;
    Bytes report = InventoryReport();
    const struct {
        unsigned int seconds;
        unsigned int hours;
    } cases[] = {{3600, 1}, {3599, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu / 3600}, {0x01020304, 0x01020304 / 3600}};
    for (const auto& c : cases) {
        SetSeconds(report, 18, c.seconds);
        SetSeconds(report, 22, c.seconds);
        ASSERT_TRUE(Decode(inventory, report));
        EXPECT_EQ(c.hours, inventory.powerOnHours) << c.seconds;
        EXPECT_EQ(c.hours, inventory.backlightPowerOnHours) << c.seconds;
    }
}

TEST(InventoryFields, BrightnessIsUnclampedAndFaultIsBitZeroPlusOne)
{
    Inventory inventory;
    Bytes report = InventoryReport();
    report[26] = 0xC8;
    report[27] = 0xFE;
    ASSERT_TRUE(Decode(inventory, report));
    EXPECT_EQ(200, inventory.backlightBrightnessPercent);
    EXPECT_EQ(1, inventory.backlightFault);
    report[27] = 0x01;
    ASSERT_TRUE(Decode(inventory, report));
    EXPECT_EQ(2, inventory.backlightFault);
}

TEST(InventoryVideoSource, ClearBitPairsMarkTheActiveInputPerFamily)
{
    const struct {
        unsigned short vid, pid;
        unsigned char status1;
        const char* source;
    } cases[] = {
        {kSarnVendor, 0x467A, 0x00, "DisplayPort"}, {kSarnVendor, 0x467A, 0x0C, "VGA"},
        {kSarnVendor, 0x467A, 0x0D, "Unknown"},     {kSarnVendor, 0x467A, 0x03, "DisplayPort"},
        {kTilmerv, 0x4677, 0x0C, "VGA"},            {kTilmerv, 0x4677, 0x01, "Unknown"},
        {kTilmerv, 0x4679, 0x00, "VGA"},            {kTilmerv, 0x467A, 0x00, "Unknown"},
        {kTilmerv, 0x4675, 0x00, "Unknown"},        {kSarnVendor, 0x4676, 0x00, "Unknown"},
    };
    Inventory inventory;
    Bytes report = InventoryReport();
    for (const auto& c : cases) {
        report[28] = c.status1;
        ASSERT_TRUE(Decode(inventory, report, c.vid, c.pid));
        EXPECT_EQ(c.source, inventory.getVideoSourceString())
            << std::hex << c.vid << "/" << c.pid << " status 0x" << int(c.status1);
    }
}

TEST(InventoryLog, DumpWritesEveryFieldWithTextUpToTheFirstNul)
{
    LogCapture log = RunLogged([] {
        Inventory inventory;
        Bytes report = InventoryReport("1.07", "4820", "5GB", std::string("ZK\0XYZW", 7));
        SetSeconds(report, 18, 3600 * 12);
        SetSeconds(report, 22, 3600 * 7);
        report[26] = 80;
        report[27] = 0x01;
        report[28] = 0x0C;
        return Decode(inventory, report, kTilmerv, 0x4676) ? 0 : 1;
    });
    EXPECT_EQ(0, log.exitCode);
    EXPECT_EQ((std::vector<std::string>{"Inventory Constructed", "firmwareRevision: 1.07",
                                        "machine: 4820", "model: 5GB", "serialNumber: ZK",
                                        "powerOnHours: 12", "backlightPowerOnHours: 7",
                                        "backlightBrightnessPercent: 80", "backlightFault 2",
                                        "videoSource: VGA", "Inventory Destroyed"}),
              log.messages("Debug"));
}

TEST(InventorySelfTest, SampleReportDecodes)
{
    Inventory inventory;
    EXPECT_TRUE(inventory.___test());
    EXPECT_TRUE(inventory.isTilmerv());
    EXPECT_EQ(VideoSourceVGA, inventory.getVideoSource());
}
