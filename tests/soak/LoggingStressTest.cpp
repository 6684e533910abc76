// Logging under stress while the provider serves real requests: a log file
// that cannot be written, one removed while open, one that reaches its
// size limit in the middle of an enumeration, and a missing log folder.
// Requests must be answered correctly throughout, and the log must behave
// as the logging rules say (lines dropped, retried, or stopped for good).
// One process per configuration.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedBus.h"
#include "Sandbox.h"
#include "ServedProcess.h"
#include "SoakMonitor.h"

using usbemu::EmulatedBus;

namespace {

const char kConf[] = "/etc/pnlmon/log.conf";
const char kLog[] = "/var/log/pnlmon/pnlmon.log";

std::string Slurp(const std::string& path)
{
    std::string content;
    sandbox::ReadFile(path, content);
    return content;
}

long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The descriptor this process holds on a log file that was removed, or -1.
int DeletedLogDescriptor()
{
    for (int fd = 0; fd < 1024; ++fd) {
        char target[PATH_MAX];
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == std::string(kLog) + " (deleted)") {
            return fd;
        }
    }
    return -1;
}

long DescriptorSize(int fd)
{
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

class LoggingStressTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!ServedProcess::ForkSupported()) {
            GTEST_SKIP() << "one process per configuration cannot run under ThreadSanitizer";
        }
        sandbox::ResetSystemFolders();
        EmulatedBus::instance().plug(SoakMonitor::spec(0));
        EmulatedBus::instance().plug(SoakMonitor::spec(1));
    }
    void TearDown() override
    {
        EmulatedBus::instance().unplugAll();
        mkdir("/var/log/pnlmon", 0755);
        sandbox::ResetSystemFolders();
    }

    static std::vector<std::string> Ids() { return {SoakMonitor::id(0), SoakMonitor::id(1)}; }

    static void ExpectClean(const ServedProcess::Outcome& outcome)
    {
        EXPECT_EQ(0, outcome.failures) << "signal " << outcome.signal << "\n" << outcome.checks;
    }
};

}  // namespace

TEST_F(LoggingStressTest, UnwritableLogFilesDropLinesAndServingGoesOn)
{
    // As root, permissions do not stop a write; a read-only mount, a parent
    // that is a file and a path that is a folder do.
    ASSERT_TRUE(sandbox::WriteFile("/var/log/pnlmon/afile", "not a folder\n"));
    ASSERT_EQ(0, mkdir("/var/log/pnlmon/ro", 0755));
    ASSERT_EQ(0, mount("pnlmon-ro", "/var/log/pnlmon/ro", "tmpfs", MS_RDONLY, nullptr));
    ASSERT_EQ(0, mkdir("/var/log/pnlmon/folder.log", 0755));
    for (const std::string path : {"/var/log/pnlmon/afile/pnlmon.log", "/var/log/pnlmon/ro/pnlmon.log",
                                   "/var/log/pnlmon/folder.log"}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(sandbox::WriteFile(kConf, "FileName=" + path + "\n"));
        ExpectClean(ServedProcess::Run([](ServedProcess& p) {
            p.expectServes(Ids(), "first requests");
            p.expectServes(Ids(), "again");
        }));
        struct stat st;
        bool folder = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        EXPECT_TRUE(folder ? st.st_nlink == 2 : stat(path.c_str(), &st) != 0) << "nothing written";
        EXPECT_EQ(-1, FileSize(kLog)) << "no fallback to the default file";
    }
    EXPECT_EQ("not a folder\n", Slurp("/var/log/pnlmon/afile"));
    EXPECT_EQ(0, umount("/var/log/pnlmon/ro"));
}

TEST_F(LoggingStressTest, LogFileRemovedWhileOpenKeepsTakingLines)
{
    auto outcome = ServedProcess::Run([](ServedProcess& p) {
        p.expectServes(Ids(), "before the removal");
        p.expect(unlink(kLog) == 0, "unlink the open log file");
        int fd = DeletedLogDescriptor();
        p.expect(fd >= 0, "a descriptor on the removed log file");
        long before = DescriptorSize(fd);
        p.expectServes(Ids(), "after the removal");
        long after = DescriptorSize(fd);
        p.expect(after > before, "lines reach the removed file (" + std::to_string(before) + " -> " +
                                     std::to_string(after) + " bytes)");
        p.expect(FileSize(kLog) == -1, "the log file is not created again");
    });
    ExpectClean(outcome);
    EXPECT_EQ(-1, FileSize(kLog));
}

TEST_F(LoggingStressTest, SizeLimitReachedInTheMiddleOfAnEnumeration)
{
    // A first process shows where the first enumerate-instances request
    // starts and ends in the log; the second stops logging half-way.
    ExpectClean(ServedProcess::Run([](ServedProcess& p) {
        auto all = p.host().enumerateInstances("root/cimv2", "QAV_Display");
        p.expect(all.ok() && all.instances.size() == 2, "probe enumeration");
    }));
    std::string probe = Slurp(kLog);
    size_t begin = probe.find("drvEnumInstances - provider=");
    size_t end = probe.size();
    ASSERT_NE(std::string::npos, begin);
    long limit = static_cast<long>(begin + end) / 2;
    ASSERT_GE(limit, 4096) << "the enumeration must log past the smallest limit";
    ASSERT_TRUE(sandbox::WriteFile(kConf, "MaxLength=" + std::to_string(limit) + "\n"));
    ASSERT_EQ(0, unlink(kLog));

    ExpectClean(ServedProcess::Run([limit, end](ServedProcess& p) {
        auto all = p.host().enumerateInstances("root/cimv2", "QAV_Display");
        p.expect(all.ok() && all.done && all.instances.size() == 2,
                 "enumeration that fills the log: " + std::to_string(all.instances.size()));
        std::string log = Slurp(kLog);
        size_t lastLine = log.rfind("\r\n", log.size() - 3);
        p.expect(log.find("drvEnumInstances - provider=") != std::string::npos,
                 "the enumeration started logging");
        p.expect(static_cast<long>(log.size()) >= limit && log.size() < end,
                 "the file stopped between the limit and the enumeration's end: " +
                     std::to_string(log.size()) + " bytes");
        p.expect(log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") == 0 &&
                     lastLine != std::string::npos && static_cast<long>(lastLine + 2) < limit,
                 "only the one line that crossed the limit is past it, and it is whole");
        p.expectServes(Ids(), "after the log is full");
        p.expect(Slurp(kLog) == log, "no line after the limit");
        // Removed (as by a rotation): lines come back within the sink's
        // recheck of the size, in a new file.
        unlink(kLog);
        bool back = false;
        for (int i = 0; i < 50 && !back; ++i) {
            p.expectServes(Ids(), "after the full file was removed");
            back = FileSize(kLog) > 0;
            if (!back) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        p.expect(back, "a full log whose file is removed is created again");
    }));
}

TEST_F(LoggingStressTest, MissingLogFolderDropsLinesUntilItExists)
{
    ASSERT_EQ(0, rmdir("/var/log/pnlmon"));
    auto outcome = ServedProcess::Run([](ServedProcess& p) {
        p.expectServes(Ids(), "without /var/log/pnlmon");
        p.expect(access("/var/log/pnlmon", F_OK) != 0, "the folder is not created");
        p.expect(mkdir("/var/log/pnlmon", 0755) == 0, "create the folder");
        p.expectServes(Ids(), "with the folder back");
        p.expect(FileSize(kLog) > 0, "the next line opens the file");
    });
    ExpectClean(outcome);
    std::string log = Slurp(kLog);
    EXPECT_NE(std::string::npos, log.find("drvEnumInstanceNames - provider="));
    // Lines from before the folder existed are lost, not queued.
    EXPECT_EQ(std::string::npos, log.find("DisplayProvider_Create_InstanceMI"));
}
