// EDID decoder: validation, the decoded values, the timing lists and the
// descriptor dump, on hand-made base blocks.
#include <gtest/gtest.h>

#include <algorithm>

#include "Edid.h"
#include "LogCapture.h"
#include "TestReports.h"

namespace {

bool Decode(Edid& edid, const Bytes& block)
{
    return edid.initialise(block.data(), static_cast<int>(block.size()));
}

void ExpectDefaults(const Edid& edid)
{
    EXPECT_FALSE(edid.init);
    EXPECT_EQ(1, edid.edidMajorVersion);
    EXPECT_EQ(0, edid.edidMinorVersion);
    EXPECT_TRUE(edid.manufacturerName.empty());
    EXPECT_TRUE(edid.manufactureDate.empty());
    EXPECT_EQ(0u, edid.horizontalScreenSize);
    EXPECT_EQ(0u, edid.verticalScreenSize);
    EXPECT_TRUE(edid.supportsColor);
    EXPECT_TRUE(edid.supportedResolutionsAndRefreshRates.empty());
    EXPECT_EQ("Unknown", edid.preferredResolutionAndRefreshRate);
    EXPECT_TRUE(edid.powerManagementModes.empty());
}

// The debug lines of decoding one block.
std::vector<std::string> DebugLines(const Bytes& block)
{
    LogCapture log = RunLogged([&block] {
        Edid edid;
        return Decode(edid, block) ? 0 : 1;
    });
    EXPECT_EQ(0, log.exitCode);
    return log.messages("Debug");
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A detailed timing descriptor.
Bytes Timing(unsigned int clock10kHz, unsigned int hActive, unsigned int hBlank,
             unsigned int vActive, unsigned int vBlank)
{
    Bytes d(18, 0);
    d[0] = clock10kHz & 0xFF;
    d[1] = (clock10kHz >> 8) & 0xFF;
    d[2] = hActive & 0xFF;
    d[3] = hBlank & 0xFF;
    d[4] = static_cast<unsigned char>(((hActive >> 8) << 4) | (hBlank >> 8));
    d[5] = vActive & 0xFF;
    d[6] = vBlank & 0xFF;
    d[7] = static_cast<unsigned char>(((vActive >> 8) << 4) | (vBlank >> 8));
    return d;
}

Bytes TextDescriptor(unsigned char kind, const std::string& text)
{
    Bytes d(18, 0x20);
    d[0] = d[1] = d[2] = d[4] = 0;
    d[3] = kind;
    std::copy(text.begin(), text.end(), d.begin() + 5);
    return d;
}

}  // namespace

TEST(EdidValidation, RejectsShortBadSumBadHeaderAndMissingInputWithoutTouchingFields)
{
    LogCapture log = RunLogged([] {
        Edid edid;
        Bytes block = EmptyEdid();
        Bytes shortBlock(block.begin(), block.begin() + 127);
        Bytes badSum = block;
        badSum[60] += 3;
        Bytes badHeader = block;
        Put(badHeader, 0, {0x01});
        Bytes zeros(128, 0);
        bool anyAccepted = Decode(edid, shortBlock) || Decode(edid, badSum) ||
                           Decode(edid, badHeader) || Decode(edid, zeros) ||
                           edid.initialise(nullptr, 128) || edid.initialise(block.data(), -1);
        ExpectDefaults(edid);
        return anyAccepted || ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(0, log.exitCode);
    EXPECT_EQ((std::vector<std::string>{
                  "Edid::validateLength - raw bytes length - wanted 128, got 127",
                  "Edid::validateChecksum - bad checksum 3",
                  "Edid::validateProlog - invalid edid prolog",
                  "Edid::validateProlog - invalid edid prolog",
                  "Edid::initialise - rawBytes - no buffer",
                  "Edid::validateLength - raw bytes length - wanted 128, got -1"}),
              log.messages("Error"));
}

TEST(EdidValidation, OnlyTheBaseBlockIsSummed)
{
    Bytes blocks = EmptyEdid();
    blocks.resize(256, 0x5A);  // an extension block with a wrong sum
    Edid edid;
    EXPECT_TRUE(Decode(edid, blocks));
    EXPECT_TRUE(edid.init);
}

TEST(EdidIdentity, ManufacturerDateAndVersion)
{
    Bytes block = EmptyEdid();
    Put(block, 8, {0x04, 0x43});
    Put(block, 16, {0, 23, 1, 4});
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    EXPECT_EQ("ABC", edid.manufacturerName);
    EXPECT_EQ("2013 (Week not specified)", edid.manufactureDate);
    EXPECT_EQ(1, edid.edidMajorVersion);
    EXPECT_EQ(4, edid.edidMinorVersion);

    const struct {
        unsigned char week;
        const char* date;
    } weeks[] = {{1, "2013 Week 1"}, {54, "2013 Week 54"}, {55, "2013"}, {0xFF, "2013"}};
    for (const auto& w : weeks) {
        Edid other;
        Put(block, 16, {w.week});
        ASSERT_TRUE(Decode(other, block));
        EXPECT_EQ(w.date, other.manufactureDate);
    }

    // Letter codes outside 1-26 are taken as they are.
    Edid odd;
    Put(block, 8, {0x00, 0x1F});
    ASSERT_TRUE(Decode(odd, block));
    EXPECT_EQ("@@_", odd.manufacturerName);
}

TEST(EdidIdentity, IdentityLogLines)
{
    Bytes block = EmptyEdid();
    Put(block, 8, {0x04, 0x43, 0x2B, 0x1A, 0x78, 0x56, 0x34, 0x12, 12, 23});
    std::vector<std::string> lines = DebugLines(block);
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ((std::vector<std::string>{"Edid Constructed", "---------", "EDID Data", "---------",
                                        "manufacturer=ABC", "Product Code=1a2b",
                                        "Device PnP Id=ABC1a2b", "Serial Number=12345678",
                                        "Manufacture Date: 2013 Week 12", "EDID Struct Version=1.3",
                                        "Video Input Definition: (analog) 0x00"}),
              std::vector<std::string>(lines.begin(), lines.begin() + 11));
    EXPECT_EQ("Edid destroyed", lines.back());
}

TEST(EdidScreen, SizeInMillimetresOrAspectRatio)
{
    Bytes block = EmptyEdid();
    Put(block, 21, {52, 29});
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    EXPECT_EQ(520u, edid.horizontalScreenSize);
    EXPECT_EQ(290u, edid.verticalScreenSize);
    EXPECT_TRUE(Has(DebugLines(block), "Screen Size (HxV): 520x290 mm"));

    Put(block, 21, {0, 0});
    Edid none;
    ASSERT_TRUE(Decode(none, block));
    EXPECT_EQ(0u, none.horizontalScreenSize);
    EXPECT_EQ(0u, none.verticalScreenSize);
    EXPECT_TRUE(Has(DebugLines(block), "Screen Size / Aspect Ratio undefined"));

    Put(block, 21, {79, 0});
    Edid landscape;
    ASSERT_TRUE(Decode(landscape, block));
    EXPECT_EQ(0u, landscape.horizontalScreenSize);
    std::vector<std::string> lines = DebugLines(block);
    EXPECT_TRUE(Has(lines, "Aspect Ratio: "));
    EXPECT_TRUE(Has(lines, "(landscape) 1.78:1"));

    Put(block, 21, {0, 79});
    EXPECT_TRUE(Has(DebugLines(block), "(portrait) 0.56:1"));
}

TEST(EdidScreen, GammaIsPrintedWithTwoDecimals)
{
    Bytes block = EmptyEdid();
    Put(block, 23, {120});
    EXPECT_TRUE(Has(DebugLines(block), "Display Gamma 2.20"));
    Put(block, 23, {0xFF});
    EXPECT_TRUE(Has(DebugLines(block), "Display Gamma undefined"));
}

TEST(EdidFeatures, PowerManagementModes)
{
    const struct {
        unsigned char features;
        str_list_t modes;
    } cases[] = {
        {0x20, {"On", "Sleep", "Off"}},
        {0x80, {"On", "Off"}},
        {0xE0, {"Standby", "Suspend", "Active Off"}},
        {0x40, {"Suspend"}},
        {0xA0, {"Standby", "Active Off"}},
        {0x00, {"On", "Off"}},
    };
    for (const auto& c : cases) {
        Bytes block = EmptyEdid();
        Put(block, 24, {c.features});
        Edid edid;
        ASSERT_TRUE(Decode(edid, block));
        EXPECT_EQ(c.modes, edid.powerManagementModes) << std::hex << int(c.features);
    }

    Bytes block = EmptyEdid();
    Put(block, 24, {0xC0});
    std::vector<std::string> lines = DebugLines(block);
    auto at = std::find(lines.begin(), lines.end(), "Features: 0xc0");
    ASSERT_NE(lines.end(), at);
    EXPECT_EQ((std::vector<std::string>{"Features: 0xc0", "  DPMS Power Mgmt",
                                        "    Standby supported", "    Suspend supported",
                                        "  Monochrome grayscale display"}),
              std::vector<std::string>(at, at + 5));
}

TEST(EdidFeatures, ColourDependsOnInputKind)
{
    const struct {
        unsigned char input, features;
        bool colour;
        const char* line;
    } cases[] = {
        {0x00, 0x00, false, "  Monochrome grayscale display"},
        {0x00, 0x08, true, "  RGB Color display"},
        {0x00, 0x10, true, "  Non-RGB Color display"},
        {0x00, 0x18, true, "  Display color type undefined"},
        {0x80, 0x00, true, "  RGB 4:4:4"},
        {0x80, 0x18, true, "  RGB 4:4:4 & YCrCb 4:4:4 & YCrCb 4:2:2"},
    };
    for (const auto& c : cases) {
        Bytes block = EmptyEdid();
        Put(block, 20, {c.input});
        Put(block, 24, {c.features});
        Edid edid;
        ASSERT_TRUE(Decode(edid, block));
        EXPECT_EQ(c.colour, edid.supportsColor) << c.line;
        EXPECT_TRUE(Has(DebugLines(block), c.line)) << c.line;
    }
}

TEST(EdidTimings, EstablishedThenStandardInOrder)
{
    Bytes block = EmptyEdid();
    Put(block, 35, {0x21, 0x08, 0x80});
    Put(block, 38, {0x01, 0x01, 0x00, 0x40, 0xD1, 0xC0, 0x81, 0x0A, 0x81, 0x80, 0x81, 0x80});
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    EXPECT_EQ((str_list_t{"640 x 480 @ 60Hz IBM VGA", "800 x 600 @ 60Hz VESA",
                          "1024 x 768 @ 60Hz VESA", "1152 x 870 @ 75Hz VESA",
                          "1920 x 1080 @ 60Hz VESA STD", "1280 x 800 @ 70Hz VESA STD",
                          "1280 x 1024 @ 60Hz VESA STD", "1280 x 1024 @ 60Hz VESA STD"}),
              edid.supportedResolutionsAndRefreshRates);

    std::vector<std::string> lines = DebugLines(block);
    auto at = std::find(lines.begin(), lines.end(), "Established Timings");
    ASSERT_NE(lines.end(), at);
    EXPECT_EQ((std::vector<std::string>{"Established Timings", "\t640 x 480 @ 60Hz IBM VGA",
                                        "\t800 x 600 @ 60Hz VESA", "\t1024 x 768 @ 60Hz VESA",
                                        "\t1152 x 870 @ 75Hz VESA", "Standard Timings",
                                        "\t1920 x 1080 @ 60Hz VESA STD"}),
              std::vector<std::string>(at, at + 7));
}

TEST(EdidTimings, AllSeventeenEstablishedBitsAndNoOthers)
{
    Bytes block = EmptyEdid();
    Put(block, 35, {0xFF, 0xFF, 0xFF});
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    ASSERT_EQ(17u, edid.supportedResolutionsAndRefreshRates.size());
    EXPECT_EQ("720 x 400 @ 70Hz IBM VGA", edid.supportedResolutionsAndRefreshRates.front());
    EXPECT_EQ("1024 x 768 @ 87Hz(I) IBM - Interlaced", edid.supportedResolutionsAndRefreshRates[11]);
    EXPECT_EQ("1152 x 870 @ 75Hz VESA", edid.supportedResolutionsAndRefreshRates.back());
}

TEST(EdidDescriptors, PreferredTimingComesFromTheFirstDescriptorOnly)
{
    Bytes block = EmptyEdid();
    Put(block, 54, Timing(14850, 1920, 280, 1080, 45));
    Put(block, 72, Timing(6500, 1024, 320, 768, 38));
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    EXPECT_EQ("1920 x 1080 @ 60Hz", edid.preferredResolutionAndRefreshRate);
    EXPECT_EQ(0u, edid.supportedResolutionsAndRefreshRates.size());
    std::vector<std::string> lines = DebugLines(block);
    auto at = std::find(lines.begin(), lines.end(), "Display Descriptor #0");
    ASSERT_NE(lines.end(), at);
    EXPECT_EQ((std::vector<std::string>{"Display Descriptor #0", " Preferred Display timing",
                                        "\t1920 x 1080 @ 60", "Display Descriptor #1",
                                        " Detailed Display timing", "\t1024 x 768 @ 60"}),
              std::vector<std::string>(at, at + 6));

    // A display descriptor first: no preferred timing, even with a timing later.
    Put(block, 54, TextDescriptor(0xFC, "MONITOR\n"));
    Edid named;
    ASSERT_TRUE(Decode(named, block));
    EXPECT_EQ("Unknown", named.preferredResolutionAndRefreshRate);
}

TEST(EdidDescriptors, TimingWithoutTotalsReportsRefreshZero)
{
    Bytes block = EmptyEdid();
    Put(block, 54, Timing(14850, 0, 0, 1080, 45));
    Put(block, 72, Timing(1, 0, 0, 0, 0));
    Edid edid;
    ASSERT_TRUE(Decode(edid, block));
    EXPECT_EQ("0 x 1080 @ 0Hz", edid.preferredResolutionAndRefreshRate);
    EXPECT_TRUE(Has(DebugLines(block), "\t0 x 0 @ 0"));
}

TEST(EdidDescriptors, DisplayDescriptorLines)
{
    Bytes block = EmptyEdid();
    Put(block, 54, TextDescriptor(0xFC, "MONITOR\n"));
    Put(block, 72, TextDescriptor(0xFF, "ABCDEFGHIJKLM"));  // no line feed: all 13
    Bytes limits(18, 0);
    limits[3] = 0xFD;
    limits[4] = 0x05;  // reserved offset flags: the raw bytes are printed
    limits[5] = 50;
    limits[6] = 75;
    limits[7] = 30;
    limits[8] = 61;
    limits[9] = 8;
    Put(block, 90, limits);
    Bytes vendor(18, 0);
    vendor[3] = 0x0E;
    Put(block, 108, vendor);
    std::vector<std::string> lines = DebugLines(block);
    EXPECT_TRUE(Has(lines, " Display product name MONITOR"));
    EXPECT_TRUE(Has(lines, " Display product serial number ABCDEFGHIJKLM"));
    EXPECT_TRUE(Has(lines, " Display range limits Horiz 30..61KHz, Vert 50..75Hz"));
    EXPECT_TRUE(Has(lines, "    Max pixel clock (video bandwidth) 80MHz"));
    EXPECT_TRUE(Has(lines, " Manufacturer specific display descriptor 0x0e"));
    EXPECT_TRUE(Has(lines, "Number of extension blocks 0x00"));

    const struct {
        unsigned char kind;
        const char* line;
    } kinds[] = {{0xFB, " Color point data"},      {0xFA, " Standard timing identifications"},
                 {0xF9, " Display Color Management (DCM) data"},
                 {0xF8, " CVT 3 byte timing codes"}, {0xF7, " Established timings III"},
                 {0x10, " Dummy descriptor"},        {0x11, " VESA Reserved"},
                 {0xF6, " VESA Reserved"},           {0xFE, " Alphanumeric data string 100%s"}};
    for (const auto& k : kinds) {
        Bytes kindBlock = EmptyEdid();
        Put(kindBlock, 54, TextDescriptor(k.kind, "100%s\n"));
        EXPECT_TRUE(Has(DebugLines(kindBlock), k.line)) << k.line;
    }
}

TEST(EdidState, ASecondDecodeAppendsAndKeepsWhatItDoesNotSet)
{
    Bytes first = EmptyEdid();
    Put(first, 21, {30, 23});
    Put(first, 35, {0x20});
    Put(first, 54, Timing(6500, 1024, 320, 768, 38));
    Bytes second = EmptyEdid();
    Put(second, 35, {0x20});

    Edid edid;
    ASSERT_TRUE(Decode(edid, first));
    edid.clear();
    EXPECT_FALSE(edid.init);
    ASSERT_TRUE(Decode(edid, second));
    EXPECT_TRUE(edid.init);
    EXPECT_EQ(2u, edid.supportedResolutionsAndRefreshRates.size());
    EXPECT_EQ(300u, edid.horizontalScreenSize);
    EXPECT_EQ("1024 x 768 @ 60Hz", edid.preferredResolutionAndRefreshRate);
}

TEST(EdidSelfTest, SampleBlocksDecode)
{
    Edid edid;
    EXPECT_TRUE(edid.___test());
    EXPECT_TRUE(edid.init);
    EXPECT_EQ("ZVK", edid.manufacturerName);
}
