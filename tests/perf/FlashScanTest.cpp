// The flash-utility check answers from one scan of /proc for all configured
// names; it must still answer, and log, as if each name were looked for in
// list order with a scan of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

#include "FlashAware.h"
#include "Sandbox.h"
#include "TestSupport.h"

using testsupport::StartAs;
using testsupport::StopProcess;

namespace {

// Runs the check in a fresh PID namespace with the given names configured
// and the given program names running (started in this order, so the first
// has the lower process number and comes first in /proc).
sandbox::ChildResult Check(const std::string& names, const std::vector<std::string>& running)
{
    sandbox::ResetSystemFolders();
    testsupport::RouteLog("/dev/null", true);
    sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "FlashUtilityNames=" + names + "\n");
    sandbox::ChildResult r = sandbox::RunInPidNamespace([&]() {
        std::vector<pid_t> pids;
        for (const std::string& argv0 : running) {
            pid_t pid = StartAs("/bin/sleep", argv0, {"30"});
            if (pid < 0) {
                return 2;
            }
            pids.push_back(pid);
        }
        bool active = FlashAware::isMonitorFlashProgramActive();
        bool again = FlashAware::isMonitorFlashProgramActive();
        printf("active=%d again=%d\n", active ? 1 : 0, again ? 1 : 0);
        for (pid_t pid : pids) {
            StopProcess(pid);
        }
        return 0;
    });
    sandbox::ResetSystemFolders();
    return r;
}

const char kFound[] = "FlashAware::isProcessNameRunning - found monitor flash process: ";

// The check's own log lines (the configuration logs its reading too).
std::vector<std::string> FlashLines(const std::string& log)
{
    std::vector<std::string> lines;
    for (const std::string& m : testsupport::Messages(log)) {
        if (m.rfind("FlashAware::", 0) == 0) {
            lines.push_back(m);
        }
    }
    return lines;
}

}  // namespace

TEST(FlashScan, TheFirstNameInListOrderIsReportedWhateverTheProcessOrder)
{
    // b_tool runs in the process with the higher number, but comes first
    // in the list: it is the one found, once per check.
    sandbox::ChildResult r = Check("x,b_tool,a_tool", {"/opt/a_tool", "/opt/b_tool"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("active=1 again=1"), std::string::npos) << r.out;
    EXPECT_EQ(testsupport::CountMessage(r.err, std::string(kFound) + "'b_tool' running"), 2) << r.err;
    EXPECT_EQ(testsupport::CountMessage(r.err, std::string(kFound) + "'a_tool' running"), 0) << r.err;

    // Only a later name runs: found after the earlier names came up empty.
    r = Check("x,y,a_tool", {"/opt/b_tool", "/opt/a_tool"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("active=1 again=1"), std::string::npos) << r.out;
    EXPECT_EQ(FlashLines(r.err),
              (std::vector<std::string>{std::string(kFound) + "'a_tool' running",
                                        std::string(kFound) + "'a_tool' running"}))
        << r.err;

    // A name that appears twice in the list, and no match at all: no line.
    r = Check("a_tool,a_tool", {});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("active=0 again=0"), std::string::npos) << r.out;
    EXPECT_EQ(FlashLines(r.err).size(), 0u) << r.err;
}

TEST(FlashScan, AnUnreadableProcIsLoggedOncePerNameAndCountsAsNothingRunning)
{
    sandbox::ResetSystemFolders();
    testsupport::RouteLog("/dev/null", true);
    sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "FlashUtilityNames=a,,c\n");
    sandbox::ChildResult r = sandbox::RunInChild([]() {
        // A folder nobody may read over /proc, in a mount namespace of this
        // child only, and a child without capabilities: opening it fails
        // with EACCES.
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2] = {};
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, "mode=000") != 0 || syscall(SYS_capset, &header, none) != 0) {
            perror("cannot hide /proc");
            return 2;
        }
        printf("active=%d\n", FlashAware::isMonitorFlashProgramActive() ? 1 : 0);
        return 0;
    });
    sandbox::ResetSystemFolders();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("active=0"), std::string::npos) << r.out;
    EXPECT_EQ(FlashLines(r.err), std::vector<std::string>(3, "FlashAware::isProcessNameRunning - Cannot open /proc, errno=13"))
        << r.err;
}
