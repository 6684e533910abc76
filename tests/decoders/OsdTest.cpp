// OSD report: the mode index, its table lookup and the rejected inputs.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "Osd.h"
#include "TestReports.h"

namespace {
bool Decode(Osd& osd, const Bytes& report)
{
    return osd.initialise(report.data(), static_cast<int>(report.size()));
}
}  // namespace

TEST(OsdMode, IndexSelectsTheTableEntry)
{
    const struct {
        unsigned char index;
        unsigned int horiz, vert, rfrsh;
    } cases[] = {{4, 640, 480, 60}, {15, 1366, 768, 59}, {0, 640, 350, 70}, {13, 1024, 768, 75}};
    Osd osd;
    for (const auto& c : cases) {
        ASSERT_TRUE(Decode(osd, OsdReport(c.index)));
        EXPECT_EQ(c.horiz, osd.currentHorizontalResolution) << int(c.index);
        EXPECT_EQ(c.vert, osd.currentVerticalResolution) << int(c.index);
        EXPECT_EQ(c.rfrsh, osd.currentRefreshRate) << int(c.index);
    }
}

TEST(OsdMode, UnknownIndexGivesZeroesAndStillSucceeds)
{
    for (unsigned char index : {14, 16, 0x7F, 0x80, 0xFF}) {
        LogCapture log = RunLogged([index] {
            Osd osd;
            Bytes report = OsdReport(4);
            if (!Decode(osd, report)) {
                return 1;
            }
            report[15] = index;  // nothing carries over from the decode before
            if (!Decode(osd, report)) {
                return 2;
            }
            return osd.currentHorizontalResolution == 0 && osd.currentVerticalResolution == 0 &&
                           osd.currentRefreshRate == 0
                       ? 0
                       : 3;
        });
        EXPECT_EQ(0, log.exitCode) << int(index);
        EXPECT_TRUE(log.contains(
            "Debug\tOsd::initialise - Current resolution not found in table - using 0,0,0"))
            << int(index);
        std::vector<std::string> debug = log.messages("Debug");
        ASSERT_GE(debug.size(), 3u);
        EXPECT_EQ("Current Horizontal Resolution = 0", debug[debug.size() - 4]);
        EXPECT_EQ("Current Vertical Resolution = 0", debug[debug.size() - 3]);
        EXPECT_EQ("Current Refresh Rate = 0", debug[debug.size() - 2]);
        EXPECT_EQ("Osd Destroyed", debug.back());
    }
}

TEST(OsdInput, ShortNegativeOrMissingBufferIsRejected)
{
    LogCapture log = RunLogged([] {
        Osd osd;
        Bytes report = OsdReport(4);
        if (!Decode(osd, report)) {
            return 1;
        }
        report.resize(23);
        bool accepted = Decode(osd, report) || osd.initialise(report.data(), -5) ||
                        osd.initialise(nullptr, 24);
        if (accepted || osd.currentHorizontalResolution != 0) {
            return 2;
        }
        report.resize(24);
        return Decode(osd, report) ? 0 : 3;
    });
    EXPECT_EQ(0, log.exitCode);
    EXPECT_EQ((std::vector<std::string>{"Osd::initialise - rawBytesLen - wanted 24, got 23",
                                        "Osd::initialise - rawBytesLen - wanted 24, got -5",
                                        "Osd::initialise - rawBytes - no buffer"}),
              log.messages("Error"));
}

TEST(ResolutionTable, SixteenEntriesAndOutOfRangeLeavesTheResultAlone)
{
    ResolutionList table;
    ASSERT_EQ(16u, table.list.size());
    Resolution res(1, 2, 3);
    table.getResolution(16, res);
    EXPECT_EQ(1u, res.horiz);
    table.getResolution(14, res);
    EXPECT_EQ(0u, res.horiz);
    EXPECT_EQ(0u, res.rfrsh);
}
