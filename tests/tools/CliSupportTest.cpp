// The command-line support every tool shares: the byte escapes that keep
// monitor text lossless and harmless, the hex-dump reader, and the parser's
// conventions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ByteText.h"
#include "CommandLine.h"
#include "DeviceHolder.h"
#include "HexDumpText.h"

namespace {

// Undoes ForTerminal, to prove it loses nothing.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(ByteText, TerminalTextIsSafeAndReversible)
{
    const std::string cases[] = {
        std::string("\xff\xff\xff-A10-\xff", 9),
        std::string("ESC\x1b[2Jx\x07\x7f", 10),
        "back\\slash",
        "caf\xc3\xa9",                     // valid UTF-8 stays
        "\xc2\x9b" "31m",                  // C1 control (CSI) is escaped
        "\xe0\x80\xaf",                    // overlong
        "\xed\xa0\x80",                    // surrogate
        "\xf0\x9f\x98",                    // truncated sequence
        std::string("nul\0nul", 7),
    };
    for (const std::string& text : cases) {
        std::string shown = ByteText::ForTerminal(text);
        for (unsigned char c : shown) {
            EXPECT_TRUE(c >= 0x20 && c != 0x7F) << shown;
        }
        EXPECT_TRUE(ByteText::IsUtf8(shown)) << shown;
        EXPECT_EQ(shown.find("\xc2\x9b"), std::string::npos);
        EXPECT_EQ(text, Unescape(shown)) << shown;
    }
    EXPECT_EQ("caf\xc3\xa9", ByteText::ForTerminal("caf\xc3\xa9"));
    EXPECT_EQ("\\xff-\\\\", ByteText::ForTerminal("\xff-\\"));
}

TEST(ByteText, JsonKeepsEveryByteAndStaysValid)
{
    nlohmann::json record = {
        {"deviceId", std::string("\xff\xfe-A10-x", 8)},
        {"modelName", "A10"},
        {"supportedVideoSources", {"VGA", std::string("\xff", 1)}},
        {"usb", {{"vendorId", "04b3"}, {"nested", std::string("\x80", 1)}}},
    };
    nlohmann::json safe = record;
    ByteText::MakeJsonSafe(safe);
    std::string text = safe.dump();  // throws on invalid UTF-8
    EXPECT_EQ("\xef\xbf\xbd\xef\xbf\xbd-A10-x", safe["deviceId"]);
    EXPECT_EQ("fffe2d4131302d78", safe["deviceIdBytes"]);
    EXPECT_EQ("A10", safe["modelName"]);
    EXPECT_FALSE(safe.contains("modelNameBytes"));
    EXPECT_EQ((nlohmann::json{"564741", "ff"}), safe["supportedVideoSourcesBytes"]);
    EXPECT_EQ("80", safe["usb"]["nestedBytes"]);
    EXPECT_FALSE(safe["usb"].contains("vendorIdBytes"));
    // Valid documents are left exactly as they were.
    nlohmann::json clean = {{"a", "b"}, {"c", {1, 2}}};
    nlohmann::json copy = clean;
    ByteText::MakeJsonSafe(copy);
    EXPECT_EQ(clean, copy);
}

TEST(HexDumpText, WrittenDumpsReadBackAndBadOnesNameTheLine)
{
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 40; ++i) {
        bytes.push_back(static_cast<unsigned char>(i * 7));
    }
    std::string dump = HexDumpText::Format(bytes.data(), bytes.size(), "  ");
    std::vector<unsigned char> back;
    std::string error;
    ASSERT_TRUE(HexDumpText::Read(dump, back, error)) << error;
    EXPECT_EQ(bytes, back);
    ASSERT_TRUE(HexDumpText::Read("00ff 10\r\n0x20,0X30\n", back, error)) << error;
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0xff, 0x10, 0x20, 0x30}), back);

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"", "no hex bytes"},
        {"00 11\n22 3\n", "line 2: '3'"},
        {"*\n", "line 1: '*' repeats no line"},
        {"00000000  00 11 222  |...|\n", "line 1: '222' is not one hex byte"},
        {"00000010: 0011\n", "does not follow the 0 bytes"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(HexDumpText::Read(b.text, back, error)) << b.text;
        EXPECT_NE(std::string::npos, error.find(b.error)) << error;
    }
    auto text = [](const std::string& s) { return HexDumpText::IsText(std::vector<unsigned char>(s.begin(), s.end())); };
    EXPECT_TRUE(text("00 ff\n"));
    EXPECT_TRUE(text("00ff10"));
    EXPECT_FALSE(text("zzzz"));  // printable but no blank: raw bytes
    EXPECT_FALSE(text(std::string("00\0ff", 5)));
    EXPECT_FALSE(text(""));
}

// Dumps that ask for too much: an offset wider than any number, a "*" line
// followed by an end offset a gigabyte away. They are refused as dumps,
// before anything is expanded; a repeat up to the limit still reads.
TEST(HexDumpText, OversizedOffsetsAndRepeatsAreRefusedUpToTheLimit)
{
    std::vector<unsigned char> back;
    std::string error;
    const std::string line = "00000000  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  |................|\n";
    const struct {
        std::string text;
        const char* error;
    } bad[] = {
        {"99999999999999999999: 0011\n", "line 1: offset 99999999999999999999 lies beyond 65536 bytes"},
        {"99999999999999999999  00 11  |..|\n", "line 1: offset 99999999999999999999 lies beyond 65536 bytes"},
        {line + "*\n40000000\n", "line 3: offset 40000000 lies beyond 65536 bytes"},
        {line + "*\nffffffffffffffffffff\n", "line 3: offset ffffffffffffffffffff lies beyond"},
        {line + "*\n00010000  00 |.|\n", "line 3: the dump holds more than 65536 bytes"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(HexDumpText::Read(b.text, back, error)) << b.text;
        EXPECT_NE(std::string::npos, error.find(b.error)) << error;
        EXPECT_TRUE(back.empty() || back.size() <= HexDumpText::kMaxBytes);
    }

    ASSERT_TRUE(HexDumpText::Read(line + "*\n00010000\n", back, error)) << error;
    ASSERT_EQ(back.size(), HexDumpText::kMaxBytes);
    EXPECT_EQ(back[0xfff1], 0x01);
    // Leading zeros do not count against the limit; a line of commas holds no byte.
    ASSERT_TRUE(HexDumpText::Read("0000000000000000000000: 0a0b\n,,\n , \n", back, error)) << error;
    EXPECT_EQ((std::vector<unsigned char>{0x0a, 0x0b}), back);
}

struct Parsed {
    int status;
    std::vector<std::string> seen;
    std::string out;
    std::string err;
    int verbosity;
    std::vector<std::string> operands;
};

Parsed Parse(std::vector<std::string> words, int flags = 0)
{
    CommandLine commandLine("tool", "[-x] FILE", "Does things.",
                            {{"watch", 'w', CommandLine::kRequired, "S", "watch", 'w'},
                             {"json", 'j', CommandLine::kNone, nullptr, "json", 0x200},
                             {"level", 0, CommandLine::kOptional, "N", "level", 0x201}},
                            "Exit status: 0.", flags);
    words.insert(words.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    Parsed p;
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE* out = open_memstream(&outText, &outSize);
    FILE* err = open_memstream(&errText, &errSize);
    p.status = commandLine.parse(static_cast<int>(words.size()), argv.data(),
                                 [&](int id, const char* value, std::string& error) {
                                     if (id == 'w' && std::string(value) == "bad") {
                                         error = "bad interval";
                                         return false;
                                     }
                                     p.seen.push_back(std::to_string(id) + "=" + (value ? value : "-"));
                                     return true;
                                 },
                                 out, err);
    fclose(out);
    fclose(err);
    p.out = outText;
    p.err = errText;
    free(outText);
    free(errText);
    p.verbosity = commandLine.verbosity();
    p.operands = commandLine.operands();
    return p;
}

TEST(CommandLine, ConventionalOptionsAndErrors)
{
    Parsed p = Parse({"file", "--watch=2", "-j", "--level", "-w", "3", "--", "-x"});
    EXPECT_EQ(CommandLine::kContinue, p.status) << p.err;
    EXPECT_EQ((std::vector<std::string>{"119=2", "512=-", "513=-", "119=3"}), p.seen);
    EXPECT_EQ((std::vector<std::string>{"file", "-x"}), p.operands);

    EXPECT_EQ(2, Parse({"-vv"}).verbosity);
    EXPECT_EQ(3, Parse({"-v", "3", "f"}).verbosity);
    EXPECT_EQ(4, Parse({"--verbose=4"}).verbosity);
    EXPECT_EQ(4, Parse({"-vvvvvv"}).verbosity);
    Parsed operandAfterV = Parse({"-v", "file"});
    EXPECT_EQ(1, operandAfterV.verbosity);
    EXPECT_EQ((std::vector<std::string>{"file"}), operandAfterV.operands);

    const struct {
        std::vector<std::string> words;
        const char* message;
    } errors[] = {
        {{"--bogus"}, "unknown or ambiguous option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--watch"}, "option '--watch' needs an argument"},
        {{"-w"}, "option '-w' needs an argument"},
        {{"--json=1"}, "option '--json' takes no argument"},
        {{"--verbose=9"}, "bad verbosity '9' (0 to 4)"},
        {{"-w", "bad"}, "bad interval"},
    };
    for (const auto& e : errors) {
        Parsed bad = Parse(e.words);
        EXPECT_EQ(64, bad.status);
        EXPECT_EQ(std::string("tool: ") + e.message + "\nTry 'tool --help' for more information.\n", bad.err);
        EXPECT_EQ("", bad.out);
    }

    Parsed help = Parse({"--help", "--bogus-after-help-is-still-an-error"});
    EXPECT_EQ(64, help.status);
    help = Parse({"--he"});  // unambiguous abbreviation
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: tool [-x] FILE\n"));
    EXPECT_NE(std::string::npos, help.out.find("  -w, --watch=S"));
    EXPECT_NE(std::string::npos, help.out.find("      --level[=N]"));
    EXPECT_NE(std::string::npos, help.out.find("Exit status: 0.\n"));
    Parsed version = Parse({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.find("tool 3."));

    // Tools that run a command stop at their first operand.
    Parsed stop = Parse({"scenario", "--", "cmd", "-j"}, CommandLine::kStopAtOperand);
    EXPECT_TRUE(stop.seen.empty());
    EXPECT_EQ((std::vector<std::string>{"scenario", "--", "cmd", "-j"}), stop.operands);
    EXPECT_EQ(64, Parse({"-v"}, CommandLine::kNoVerbose).status);

    long n = 0;
    double s = 0;
    EXPECT_TRUE(CommandLine::ParseLong("42", 1, 100, n));
    EXPECT_FALSE(CommandLine::ParseLong("-1", 0, 100, n));
    EXPECT_FALSE(CommandLine::ParseLong(" 4", 0, 100, n));
    EXPECT_FALSE(CommandLine::ParseLong("101", 0, 100, n));
    EXPECT_TRUE(CommandLine::ParseSeconds("0.5", 10, s));
    EXPECT_FALSE(CommandLine::ParseSeconds("-1", 10, s));
    EXPECT_FALSE(CommandLine::ParseSeconds("nan", 10, s));
    EXPECT_FALSE(CommandLine::ParseSeconds("11", 10, s));
}

// A process tree in a folder: each process a folder with fd links and a
// comm file, as /proc shows them.
class FakeProc {
public:
    FakeProc()
    {
        char pattern[] = "/tmp/pnlmon-proc-XXXXXX";
        root = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~FakeProc()
    {
        if (!root.empty()) {
            std::string command = "rm -rf '" + root + "'";
            EXPECT_EQ(system(command.c_str()), 0);
        }
    }
    void process(long pid, const std::string& comm, const std::vector<std::string>& links)
    {
        std::string dir = root + "/" + std::to_string(pid);
        mkdir(dir.c_str(), 0700);
        mkdir((dir + "/fd").c_str(), 0700);
        FILE* file = fopen((dir + "/comm").c_str(), "w");
        ASSERT_NE(file, nullptr);
        fprintf(file, "%s\n", comm.c_str());
        fclose(file);
        int fd = 0;
        for (const std::string& link : links) {
            ASSERT_EQ(symlink(link.c_str(), (dir + "/fd/" + std::to_string(fd++)).c_str()), 0);
        }
    }
    std::string root;
};

TEST(DeviceHolder, FindsTheProcessThatHasTheNodeOpen)
{
    FakeProc proc;
    ASSERT_FALSE(proc.root.empty());
    EXPECT_EQ(DeviceHolder::NodePath(1, 2), "/dev/bus/usb/001/002");
    proc.process(17, "sshd", {"/dev/null", "socket:[123]"});
    proc.process(1234, "kap_download", {"/dev/pts/0", "/dev/bus/usb/001/002"});
    proc.process(99, "other", {"/dev/bus/usb/001/020", "/dev/bus/usb/002/002"});
    proc.process(getpid(), "self", {"/dev/bus/usb/001/003"});
    // Not processes: skipped.
    mkdir((proc.root + "/self").c_str(), 0700);
    mkdir((proc.root + "/sys").c_str(), 0700);

    DeviceHolder holders(proc.root);
    pid_t pid = 0;
    std::string name;
    ASSERT_TRUE(holders.find(1, 2, pid, name));
    EXPECT_EQ(pid, 1234);
    EXPECT_EQ(name, "kap_download");
    // The same bus and device elsewhere in the number, or on another bus:
    // not this one. Our own open files do not count.
    EXPECT_FALSE(holders.find(1, 3, pid, name));
    EXPECT_FALSE(holders.find(3, 2, pid, name));
    ASSERT_TRUE(holders.find(2, 2, pid, name));
    EXPECT_EQ(pid, 99);
    // The node under another root (an emulated /dev) is the same node.
    proc.process(555, "flasher", {proc.root + "/testbed/dev/bus/usb/001/007"});
    ASSERT_TRUE(holders.find(1, 7, pid, name));
    EXPECT_EQ(pid, 555);
    // Nothing to scan: nothing found, no failure.
    DeviceHolder none(proc.root + "/missing");
    EXPECT_FALSE(none.find(1, 2, pid, name));
}

}  // namespace
