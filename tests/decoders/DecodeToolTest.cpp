// pnlmon-decode end to end: exit status, JSON on standard output only,
// reasons on standard error.
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Sandbox.h"
#include "TestReports.h"

namespace {

const std::string kSample = std::string(PNLMON_EXAMPLES_DIR) + "/edid/sample-vga.bin";
const std::string kSampleHex = std::string(PNLMON_EXAMPLES_DIR) + "/edid/sample-vga.hex";

// Runs the tool with the arguments; stdinPath, when given, becomes its
// standard input.
sandbox::ChildResult RunTool(std::vector<std::string> args, const std::string& stdinPath = "")
{
    return sandbox::RunInChild([&]() {
        if (!stdinPath.empty()) {
            int in = open(stdinPath.c_str(), O_RDONLY);
            if (in < 0 || dup2(in, 0) < 0) {
                return 120;
            }
            close(in);
        }
        std::vector<char*> argv;
        std::string tool = PNLMON_DECODE_TOOL;
        argv.push_back(&tool[0]);
        for (std::string& arg : args) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        return 121;
    });
}

std::string ScratchFile(const std::string& name, const Bytes& bytes)
{
    std::string path = sandbox::ScratchDir() + "/" + name;
    sandbox::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

nlohmann::json ParseOut(const sandbox::ChildResult& result)
{
    return nlohmann::json::parse(result.out, nullptr, false);
}

}  // namespace

TEST(DecodeTool, SampleEdidDecodesToJsonOnStandardOutputOnly)
{
    sandbox::ChildResult raw = RunTool({"edid", kSample});
    ASSERT_EQ(0, raw.exitCode) << raw.err;
    nlohmann::json out = ParseOut(raw);
    ASSERT_TRUE(out.is_object()) << raw.out;
    EXPECT_EQ("ZVK", out["manufacturerName"]);
    EXPECT_EQ("2019 Week 12", out["manufactureDate"]);
    EXPECT_EQ(300, out["horizontalScreenSize"]);
    EXPECT_EQ(230, out["verticalScreenSize"]);
    EXPECT_EQ(true, out["supportsColor"]);
    EXPECT_EQ("1024 x 768 @ 60Hz", out["preferredResolutionAndRefreshRate"]);
    EXPECT_EQ("1.3", out["edidVersion"]);
    EXPECT_EQ(13u, out["supportedResolutionsAndRefreshRates"].size());
    EXPECT_EQ((nlohmann::json{"Standby", "Suspend", "Active Off"}), out["powerManagementModes"]);
    EXPECT_EQ(std::string::npos, raw.out.find("Logger created"));

    // The hex dump, read from standard input, decodes the same.
    sandbox::ChildResult hex = RunTool({"edid", "-"}, kSampleHex);
    ASSERT_EQ(0, hex.exitCode) << hex.err;
    EXPECT_EQ(raw.out, hex.out);
}

TEST(DecodeTool, LogOptionEchoesDecoderLinesToStandardError)
{
    sandbox::ChildResult result = RunTool({"edid", kSample, "--log"});
    ASSERT_EQ(0, result.exitCode);
    EXPECT_NE(std::string::npos, result.err.find("\tDebug\tEdid Constructed\r\n"));
    EXPECT_NE(std::string::npos, result.err.find("\tDebug\tmanufacturer=ZVK\r\n"));
    EXPECT_TRUE(ParseOut(result).is_object());

    sandbox::ChildResult quiet = RunTool({"edid", kSample, "--log=1"});
    ASSERT_EQ(0, quiet.exitCode);
    EXPECT_EQ(std::string::npos, quiet.err.find("Edid Constructed"));
}

TEST(DecodeTool, UndecodableBytesExitTwoWithTheReason)
{
    Bytes block;
    ASSERT_TRUE(ReadBytes(kSample, block));
    Bytes badSum = block;
    badSum[40] += 1;
    Bytes badHeader = block;
    badHeader[0] = 0x01;
    badHeader[127] -= 1;
    Bytes shortBlock(block.begin(), block.begin() + 100);
    const struct {
        std::string kind;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"edid", badSum, "bad checksum: bytes 0-127 sum to 1 modulo 256"},
        {"edid", badHeader, "bad header"},
        {"edid", shortBlock, "too short: 100 bytes"},
        {"inventory", Bytes(34, 'z'), "too short: 34 bytes, an inventory report needs 35"},
        {"osd", Bytes(23, 0), "too short: 23 bytes, an OSD report needs 24"},
        {"osd", Bytes(), "too short: 0 bytes"},
    };
    for (const auto& c : cases) {
        sandbox::ChildResult result = RunTool({c.kind, ScratchFile("bad.bin", c.bytes)});
        EXPECT_EQ(2, result.exitCode) << c.reason;
        EXPECT_NE(std::string::npos, result.err.find(c.reason)) << result.err;
        EXPECT_EQ("", result.out);
    }

    // Forced formats: a hex-looking file read raw, a binary file read as hex.
    Bytes hexLooking(35, '0');
    sandbox::ChildResult asRaw = RunTool({"inventory", ScratchFile("digits.bin", hexLooking), "--raw"});
    EXPECT_EQ(0, asRaw.exitCode) << asRaw.err;
    sandbox::ChildResult asHex = RunTool({"edid", kSample, "--hex"});
    EXPECT_EQ(2, asHex.exitCode);
    EXPECT_NE(std::string::npos, asHex.err.find("neither a hex digit nor a blank")) << asHex.err;

    // Text that is no hex dump is named as such, not as a bad report.
    sandbox::ChildResult oddHex = RunTool({"osd", ScratchFile("odd.hex", {'0', '1', ' ', '2'})});
    EXPECT_EQ(2, oddHex.exitCode);
    EXPECT_NE(std::string::npos, oddHex.err.find("not a hex dump: line 1: '2'")) << oddHex.err;
}

TEST(DecodeTool, UsageAndUnreadableInput)
{
    sandbox::ChildResult help = RunTool({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_EQ(0u, help.out.find("Usage: pnlmon-decode"));

    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {}, {"edid"}, {"bogus", kSample}, {"edid", kSample, "--frobnicate"},
             {"inventory", kSample, "--vid", "0x10000"}, {"inventory", kSample, "--pid"},
             {"edid", kSample, "--log=9"}}) {
        sandbox::ChildResult result = RunTool(args);
        EXPECT_EQ(64, result.exitCode) << testing::PrintToString(args);
        // One line, then the pointer to --help.
        EXPECT_NE(std::string::npos, result.err.find("\nTry 'pnlmon-decode --help' for more information.\n"))
            << result.err;
        EXPECT_EQ(2, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
        EXPECT_EQ("", result.out);
    }

    sandbox::ChildResult missing = RunTool({"edid", sandbox::ScratchDir() + "/no-such-file"});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("No such file"));
}

TEST(DecodeTool, InventoryWithFamilyAndUnprintableText)
{
    Bytes report = InventoryReport("1.07", "4820", "5GB", std::string("ZK\0\xff\xfe" "12", 7));
    report[18] = 0x10;  // 3600 s
    report[19] = 0x0E;
    report[26] = 75;
    report[28] = 0x00;
    sandbox::ChildResult result =
        RunTool({"inventory", ScratchFile("inv.bin", report), "--vid", "0x0F66", "--pid=0x467A"});
    ASSERT_EQ(0, result.exitCode) << result.err;
    nlohmann::json out = ParseOut(result);
    ASSERT_TRUE(out.is_object()) << result.out;
    EXPECT_EQ("1.07", out["firmwareRevision"]);
    EXPECT_EQ("4820", out["physicalDeviceName"]);
    EXPECT_EQ("5GB", out["modelName"]);
    // NUL is kept (escaped), bytes that are not UTF-8 become U+FFFD.
    EXPECT_EQ(std::string("ZK\0\xEF\xBF\xBD\xEF\xBF\xBD" "12", 11), out["serialNumber"]);
    EXPECT_EQ(1, out["powerOnHours"]);
    EXPECT_EQ(75, out["currentBrightnessLevel"]);
    EXPECT_EQ(1, out["backlightState"]);
    EXPECT_EQ("DisplayPort", out["currentVideoSource"]);
    EXPECT_EQ("Sarn", out["family"]);
    EXPECT_EQ(2, out["lightSourceType"]);
    EXPECT_EQ(22, out["recommendedBrightnessLevel"]);
    EXPECT_EQ((nlohmann::json{"VGA", "DisplayPort"}), out["supportedVideoSources"]);
}

TEST(DecodeTool, OsdReport)
{
    sandbox::ChildResult result = RunTool({"osd", ScratchFile("osd.bin", OsdReport(15))});
    ASSERT_EQ(0, result.exitCode) << result.err;
    nlohmann::json out = ParseOut(result);
    EXPECT_EQ(1366, out["horizontalResolution"]);
    EXPECT_EQ(768, out["verticalResolution"]);
    EXPECT_EQ(59, out["refreshRate"]);
}

namespace {

// The block in the layouts people paste.
std::string Xxd(const Bytes& bytes)
{
    std::string text;
    char cell[24];
    for (size_t i = 0; i < bytes.size(); i += 16) {
        snprintf(cell, sizeof(cell), "%08zx:", i);
        text += cell;
        std::string ascii;
        for (size_t k = i; k < i + 16 && k < bytes.size(); ++k) {
            snprintf(cell, sizeof(cell), (k - i) % 2 == 0 ? " %02x" : "%02x", bytes[k]);
            text += cell;
            ascii += bytes[k] >= 0x20 && bytes[k] < 0x7F ? static_cast<char>(bytes[k]) : '.';
        }
        text += "  " + ascii + "\n";
    }
    return text;
}

std::string HexdumpC(const Bytes& bytes)
{
    std::string text;
    char cell[24];
    for (size_t i = 0; i < bytes.size(); i += 16) {
        // A line equal to the one before is written as "*".
        if (i >= 16 && i + 16 <= bytes.size() && std::equal(bytes.begin() + i, bytes.begin() + i + 16, bytes.begin() + i - 16)) {
            if (text.size() < 2 || text.compare(text.size() - 2, 2, "*\n") != 0) {
                text += "*\n";
            }
            continue;
        }
        snprintf(cell, sizeof(cell), "%08zx ", i);
        text += cell;
        std::string ascii;
        for (size_t k = i; k < i + 16 && k < bytes.size(); ++k) {
            snprintf(cell, sizeof(cell), (k - i) == 8 ? "  %02x" : " %02x", bytes[k]);
            text += cell;
            ascii += bytes[k] >= 0x20 && bytes[k] < 0x7F ? static_cast<char>(bytes[k]) : '.';
        }
        text += "  |" + ascii + "|\n";
    }
    snprintf(cell, sizeof(cell), "%08zx\n", bytes.size());
    return text + cell;
}

Bytes AsBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

TEST(DecodeTool, PastedHexLayoutsAndEdidIdentity)
{
    const std::string dir = PNLMON_EDID_TESTDATA_DIR;
    const std::string name = dir + "/bsd-a-acer-acr0325-47adf8";
    Bytes block;
    if (!ReadBytes(name + ".bin", block)) {
        GTEST_SKIP() << "no EDID test data in " << dir;
    }
    sandbox::ChildResult raw = RunTool({"edid", name + ".bin"});
    ASSERT_EQ(0, raw.exitCode) << raw.err;
    nlohmann::json out = ParseOut(raw);
    // Beside the record's fields, what edid-decode shows of the identity.
    EXPECT_EQ("G196HQL", out["productName"]);
    EXPECT_EQ("LX8EE0032401", out["serialString"]);
    EXPECT_EQ(805, out["productCode"]);
    EXPECT_EQ(810559121u, out["serialNumber"]);
    EXPECT_FALSE(out.contains("modelYear"));
    EXPECT_EQ("ACR", out["manufacturerName"]);

    std::string plain;
    for (unsigned char b : block) {
        char cell[8];
        snprintf(cell, sizeof(cell), "0x%02X, ", b);
        plain += cell;
    }
    const struct {
        const char* layout;
        std::string text;
    } pasted[] = {
        {"xxd", Xxd(block)},
        {"hexdump -C", HexdumpC(block)},
        {"C array", plain},
    };
    for (const auto& p : pasted) {
        sandbox::ChildResult result = RunTool({"edid", ScratchFile("pasted.txt", AsBytes(p.text))});
        EXPECT_EQ(0, result.exitCode) << p.layout << ": " << result.err;
        EXPECT_EQ(raw.out, result.out) << p.layout;
    }
    // edid-decode's whole output, read from standard input.
    sandbox::ChildResult fromDecoder = RunTool({"edid", "-"}, name + ".edid-decode.txt");
    EXPECT_EQ(0, fromDecoder.exitCode) << fromDecoder.err;
    EXPECT_EQ(raw.out, fromDecoder.out);

    // A repeated line of hexdump -C ("*") is filled in.
    Bytes zeros(48, 0);
    sandbox::ChildResult repeated = RunTool({"osd", ScratchFile("zeros.txt", AsBytes(HexdumpC(zeros)))});
    EXPECT_EQ(0, repeated.exitCode) << repeated.err;

    // A good dump of a bad block is a bad block; text that is no dump says so.
    Bytes badSum = block;
    badSum[20] ^= 0x01;
    sandbox::ChildResult bad = RunTool({"edid", ScratchFile("bad.txt", AsBytes(Xxd(badSum)))});
    EXPECT_EQ(2, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.err.find("bad checksum")) << bad.err;
    sandbox::ChildResult prose = RunTool({"edid", ScratchFile("prose.txt", AsBytes("The monitor says:\nhello\n"))});
    EXPECT_EQ(2, prose.exitCode);
    EXPECT_NE(std::string::npos, prose.err.find("not a hex dump: line 1")) << prose.err;
    EXPECT_EQ(std::string::npos, prose.err.find("checksum")) << prose.err;
    std::string gap = Xxd(block);
    gap.erase(gap.find('\n') + 1, gap.find('\n', gap.find('\n') + 1) - gap.find('\n'));
    sandbox::ChildResult missingLine = RunTool({"edid", ScratchFile("gap.txt", AsBytes(gap))});
    EXPECT_EQ(2, missingLine.exitCode);
    EXPECT_NE(std::string::npos, missingLine.err.find("offset 00000020: does not follow the 16 bytes"))
        << missingLine.err;
}

}  // namespace
