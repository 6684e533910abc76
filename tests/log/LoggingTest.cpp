// Logging through its real fixed paths, each case in a fresh child process
// (the logger reads its configuration once, at its creation).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "FileLogHandler.h"
#include "Logger.h"
#include "Sandbox.h"
#include "log.h"

namespace {

const char kConf[] = "/etc/pnlmon/log.conf";
const char kLog[] = "/var/log/pnlmon/pnlmon.log";

class Logging : public testing::Test {
protected:
    void SetUp() override { sandbox::ResetSystemFolders(); }
    void TearDown() override { sandbox::ResetSystemFolders(); }

    static std::string LogFile(const char* path = kLog)
    {
        std::string content;
        sandbox::ReadFile(path, content);
        return content;
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    static std::string Message(const std::string& line)
    {
        size_t tab = line.rfind('\t');
        return tab == std::string::npos ? line : line.substr(tab + 1);
    }
};

TEST_F(Logging, WritesTraceLinesToTheDefaultFileWithoutConfiguration)
{
    auto child = sandbox::RunInChild([] {
        Log(LEVEL_TRACE, "DisplayApi constructed %d", 7);
        return static_cast<int>(getpid());
    });
    EXPECT_EQ(child.out, "Logger created\n");
    std::string content = LogFile();
    std::regex line(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}\tP\[([0-9a-f]{8})\] T\[[0-9a-f]{8}\]\tTrace\tDisplayApi constructed 7\r\n$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(content, match, line)) << content;
    // The child's exit code carries the low byte of its pid.
    EXPECT_EQ(std::stoul(match[1].str(), nullptr, 16) & 0xff, static_cast<unsigned>(child.exitCode));
}

TEST_F(Logging, FiltersByConfiguredLevelBeforeFormatting)
{
    sandbox::WriteFile(kConf, "Level=0\n");
    sandbox::RunInChild([] {
        Log(LEVEL_ERROR, "error");
        Log(LEVEL_INFO, "info");
        Log(LEVEL_DEBUG, "debug");
        LogQuick(LEVEL_TRACE, "trace");
        Log(LEVEL_OFF, "off");
        Log(LEVEL_ERROR, nullptr);
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\tOff  \toff"), std::string::npos);
}

TEST_F(Logging, LevelTextsAreFiveCharactersWide)
{
    sandbox::RunInChild([] {
        Log(LEVEL_ERROR, "a");
        Log(LEVEL_INFO, "b");
        Log(LEVEL_DEBUG, "c");
        Log(LEVEL_TRACE, "d");
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\tError\ta"), std::string::npos);
    EXPECT_NE(lines[1].find("\tInfo \tb"), std::string::npos);
    EXPECT_NE(lines[2].find("\tDebug\tc"), std::string::npos);
    EXPECT_NE(lines[3].find("\tTrace\td"), std::string::npos);
}

TEST_F(Logging, ParsesLevelValuesAsUnsignedNumbersOnly)
{
    struct Case {
        const char* conf;
        LOG_LEVEL expected;
    };
    const Case cases[] = {
        {"Level=5\n", LEVEL_TRACE},      {"Level=abc\n", LEVEL_TRACE}, {"Level=3\r\n", LEVEL_DEBUG},
        {"Level=  2x\n", LEVEL_INFO},    {"Level=-1\n", LEVEL_TRACE},  {"Level=1\nLevel=9\n", LEVEL_ERROR},
        {"Level =1\n", LEVEL_TRACE},     {"Level=2", LEVEL_INFO},
    };
    for (const Case& c : cases) {
        sandbox::WriteFile(kConf, c.conf);
        auto child = sandbox::RunInChild([] { return static_cast<int>(Logger::GetInstance().GetHandler().GetLevel()); });
        EXPECT_EQ(child.exitCode, c.expected) << c.conf;
    }
}

TEST_F(Logging, RaisesSmallMaxLengthAndIgnoresText)
{
    const std::pair<const char*, unsigned> cases[] = {
        {"MaxLength=100\n", 4096}, {"MaxLength=big\n", 0xa00000}, {"MaxLength=5000\n", 5000}, {"", 0xa00000}};
    for (const auto& c : cases) {
        sandbox::WriteFile(kConf, c.first);
        auto child = sandbox::RunInChild([&] {
            return Logger::GetInstance().GetFileHandler().GetMaxLength() == c.second ? 0 : 1;
        });
        EXPECT_EQ(child.exitCode, 0) << c.first;
    }
}

TEST_F(Logging, ConsoleIsSelectedByItsFirstCharacterAndOnlyTurnedOn)
{
    const std::pair<const char*, bool> cases[] = {{"IsConsole=true\n", true},
                                                  {"IsConsole=yes\n", false},
                                                  {"IsConsole=1\nIsConsole=0\n", true},
                                                  {"IsConsole=T\n", true},
                                                  {"IsConsole=\n", false}};
    for (const auto& c : cases) {
        sandbox::WriteFile(kConf, c.first);
        auto child = sandbox::RunInChild([] { return Logger::GetInstance().GetFileHandler().IsConsole() ? 1 : 0; });
        EXPECT_EQ(child.exitCode, c.second ? 1 : 0) << c.first;
    }
}

TEST_F(Logging, ConsoleLinesHaveTheFileFormat)
{
    sandbox::WriteFile(kConf, "IsConsole=1\n");
    auto child = sandbox::RunInChild([] {
        LogQuick(LEVEL_INFO, "to the console");
        return 0;
    });
    std::regex line(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}\tP\[[0-9a-f]{8}\] T\[[0-9a-f]{8}\]\tInfo \tto the console\r\n$)");
    EXPECT_TRUE(std::regex_match(child.err, line)) << child.err;
    EXPECT_FALSE(sandbox::Exists(kLog));
}

TEST_F(Logging, FileNameKeepsEverythingUpToTheNewline)
{
    sandbox::WriteFile(kConf, "FileName=/var/log/pnlmon/other.log\r\nFileName=\n");
    sandbox::RunInChild([] {
        Log(LEVEL_INFO, "x");
        return 0;
    });
    EXPECT_TRUE(sandbox::Exists("/var/log/pnlmon/other.log\r"));

    // The last line of a file has no newline: its last character stays.
    sandbox::WriteFile(kConf, "FileName=/var/log/pnlmon/last.log");
    sandbox::RunInChild([] {
        Log(LEVEL_INFO, "y");
        return 0;
    });
    EXPECT_NE(LogFile("/var/log/pnlmon/last.log").find("\ty\r\n"), std::string::npos);
}

TEST_F(Logging, CutsFormattedMessagesTo4095Characters)
{
    sandbox::RunInChild([] {
        std::string big(5000, 'm');
        Log(LEVEL_INFO, "%s", big.c_str());
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), std::string(4095, 'm'));
}

TEST_F(Logging, LogQuickWritesPercentSignsUnchanged)
{
    sandbox::RunInChild([] {
        LogQuick(LEVEL_INFO, "100%s done %d %n");
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "100%s done %d %n");
}

TEST_F(Logging, WideMessagesAreConvertedOrDropped)
{
    sandbox::RunInChild([] {
        setlocale(LC_ALL, "C");
        WLog(LEVEL_INFO, L"wide %ls %d", L"text", 3);
        WLog(LEVEL_INFO, L"caf\u00e9");  // not representable in the C locale
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "wide text 3");
}

// Logs five lines of 1000 'a's: more than a MaxLength of 4096 holds.
static void LogPastTheLimit()
{
    std::string chunk(1000, 'a');
    for (int i = 0; i < 5; ++i) {
        Log(LEVEL_INFO, "%s", chunk.c_str());
    }
}

TEST_F(Logging, StaysFullWhileTheFileIsAtItsLimit)
{
    sandbox::WriteFile(kConf, "MaxLength=4096\n");
    auto child = sandbox::RunInChild([] {
        LogPastTheLimit();
        // The file now holds more than 4096 bytes: the next line finds it full,
        // and so does one after a look at its size.
        Log(LEVEL_INFO, "dropped");
        std::this_thread::sleep_for(FileLogHandler::kFullRecheck + std::chrono::milliseconds(200));
        Log(LEVEL_INFO, "dropped as well");
        return Logger::GetInstance().GetFileHandler().IsFull() ? 0 : 1;
    });
    EXPECT_EQ(child.exitCode, 0);
    for (const auto& line : Lines(LogFile())) {
        EXPECT_EQ(Message(line), std::string(1000, 'a'));
    }
}

// Logs numbered lines until one is written again (bounded); answers its
// number, or -1.
static int LogUntilOpen(const char* text)
{
    for (int i = 0; i < 200; ++i) {
        Log(LEVEL_INFO, "%s %d", text, i);
        if (!Logger::GetInstance().GetFileHandler().IsFull()) {
            return i;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

TEST_F(Logging, FullEndsOnceTheFileIsTruncatedOrRemoved)
{
    sandbox::WriteFile(kConf, "MaxLength=4096\n");
    auto child = sandbox::RunInChild([] {
        LogPastTheLimit();
        Log(LEVEL_INFO, "dropped");
        if (!Logger::GetInstance().GetFileHandler().IsFull()) {
            return 1;
        }
        // As logrotate's copytruncate leaves it.
        if (truncate(kLog, 0) != 0) {
            return 2;
        }
        int written = LogUntilOpen("after truncation");
        if (written < 0) {
            return 3;
        }
        Log(LEVEL_INFO, "next");
        std::string text;
        sandbox::ReadFile(kLog, text);
        auto lines = Lines(text);
        if (lines.size() != 2 || Message(lines[0]) != "after truncation " + std::to_string(written) ||
            Message(lines[1]) != "next") {
            return 4;
        }
        // Full again, then removed (rotated by renaming): a new file.
        LogPastTheLimit();
        if (!Logger::GetInstance().GetFileHandler().IsFull() || unlink(kLog) != 0) {
            return 5;
        }
        return LogUntilOpen("after removal") >= 0 ? 0 : 6;
    });
    EXPECT_EQ(child.exitCode, 0);
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]).rfind("after removal ", 0), 0u);
}

TEST_F(Logging, ALineJustBelowTheLimitIsWrittenWhole)
{
    sandbox::WriteFile(kConf, "MaxLength=4096\n");
    sandbox::RunInChild([] {
        Log(LEVEL_INFO, "%s", std::string(4000, 'a').c_str());
        Log(LEVEL_INFO, "%s", std::string(1000, 'b').c_str());
        return 0;
    });
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[1]), std::string(1000, 'b'));
}

TEST_F(Logging, ReopensTheFileAfterAnOpenFailure)
{
    sandbox::WriteFile(kConf, "FileName=/var/log/pnlmon/later/pnlmon.log\n");
    sandbox::RunInChild([] {
        Log(LEVEL_INFO, "lost");
        mkdir("/var/log/pnlmon/later", 0755);
        Log(LEVEL_INFO, "kept");
        return 0;
    });
    auto lines = Lines(LogFile("/var/log/pnlmon/later/pnlmon.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "kept");
}

TEST_F(Logging, FirstLinesFromTwoThreadsCreateOneLoggerAndStayWhole)
{
    auto child = sandbox::RunInChild([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i) {
                    Log(LEVEL_INFO, "thread %d line %d %s", t, i, std::string(100, 'x').c_str());
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        return 0;
    });
    EXPECT_EQ(child.out, "Logger created\n");
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 800u);
    std::regex shape(R"(^.*\tInfo \tthread \d line \d+ x{100}$)");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
}

TEST_F(Logging, UnloadClosesTheFileAndDropsLaterLines)
{
    auto child = sandbox::RunInChild([] {
        auto openFiles = [] {
            int count = 0;
            for (int fd = 0; fd < 1024; ++fd) {
                count += fcntl(fd, F_GETFD) != -1;
            }
            return count;
        };
        Log(LEVEL_INFO, "before");
        int withLog = openFiles();
        Logger::GetInstance().GetFileHandler().Shutdown();
        Log(LEVEL_INFO, "after");
        return withLog - openFiles();
    });
    EXPECT_EQ(child.exitCode, 1);
    auto lines = Lines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "before");
}

}  // namespace

// Mirroring to standard error adds lines there up to its own level and
// leaves the configured destination exactly as it was.
TEST_F(Logging, MirrorToStandardErrorLeavesTheConfiguredDestinationAlone)
{
    sandbox::WriteFile(kConf, "Level=1\n");
    auto child = sandbox::RunInChild([] {
        LogMirrorToStandardError(LEVEL_DEBUG);
        LogQuick(LEVEL_ERROR, "an error");
        LogQuick(LEVEL_DEBUG, "a debug line");
        LogQuick(LEVEL_TRACE, "a trace line");
        LogMirrorToStandardError(LEVEL_OFF);
        LogQuick(LEVEL_DEBUG, "after the mirror");
        LogQuick(LEVEL_OFF, "an off record");
        return 0;
    });
    // An "Off" record goes to the file whatever its level, never to a mirror
    // that is off.
    EXPECT_EQ(child.err.find("an off record"), std::string::npos) << child.err;
    EXPECT_NE(child.err.find("\tError\tan error\r\n"), std::string::npos) << child.err;
    EXPECT_NE(child.err.find("\tDebug\ta debug line\r\n"), std::string::npos) << child.err;
    EXPECT_EQ(child.err.find("a trace line"), std::string::npos);
    EXPECT_EQ(child.err.find("after the mirror"), std::string::npos);
    std::string file;
    ASSERT_TRUE(sandbox::ReadFile(kLog, file));
    EXPECT_NE(file.find("\tError\tan error\r\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("debug"), std::string::npos) << file;
    EXPECT_NE(file.find("\tOff  \tan off record\r\n"), std::string::npos) << file;

    // A console destination shows each line once.
    sandbox::WriteFile(kConf, "IsConsole=1\nLevel=2\n");
    child = sandbox::RunInChild([] {
        LogMirrorToStandardError(LEVEL_TRACE);
        LogQuick(LEVEL_INFO, "once");
        LogQuick(LEVEL_TRACE, "mirrored only");
        return 0;
    });
    EXPECT_EQ(child.err.find("once"), child.err.rfind("once")) << child.err;
    EXPECT_NE(child.err.find("mirrored only"), std::string::npos);
}
