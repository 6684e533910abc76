// Flash-utility detection against real processes. Every case runs in its own
// PID namespace with a private /proc, so the fake utilities it starts are
// invisible to other tests and other tests' processes are invisible to it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "FlashAware.h"
#include "Sandbox.h"
#include "TestSupport.h"

using testsupport::StartAs;
using testsupport::StopProcess;

namespace {

struct Case {
    std::string names;                  // FlashUtilityNames, empty = defaults
    std::string program = "/bin/sleep";
    std::string argv0;                  // empty = start nothing
    std::vector<std::string> args = {"30"};
    std::string shown;                  // first argument in /proc, empty = argv0
};

// Starts the process of the case, asks FlashAware, and prints "active=0/1".
sandbox::ChildResult Check(const Case& c)
{
    sandbox::ResetSystemFolders();
    testsupport::RouteLog("/dev/null", true);
    if (!c.names.empty()) {
        sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "FlashUtilityNames=" + c.names + "\n");
    }
    sandbox::ChildResult r = sandbox::RunInPidNamespace([&]() {
        pid_t pid = -1;
        if (c.program != "" && (!c.argv0.empty() || c.names.find(",,") != std::string::npos)) {
            pid = StartAs(c.program, c.argv0, c.args, c.shown.empty() ? nullptr : &c.shown);
            if (pid < 0) {
                return 2;
            }
        }
        bool active = FlashAware::isMonitorFlashProgramActive();
        printf("active=%d\n", active ? 1 : 0);
        StopProcess(pid);
        return 0;
    });
    sandbox::ResetSystemFolders();
    return r;
}

bool Active(const Case& c, std::string* log = nullptr)
{
    sandbox::ChildResult r = Check(c);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (log != nullptr) {
        *log = r.err;
    }
    return r.out.find("active=1") != std::string::npos;
}

}  // namespace

TEST(FlashAware, NothingRunning)
{
    Case c;
    EXPECT_FALSE(Active(c));
}

TEST(FlashAware, ProgramNameAfterTheLastSlashMatchesExactly)
{
    Case c;
    c.argv0 = "/opt/tools/kap_config";
    c.args = {"30", "1", "2"};  // further arguments (sleep adds them up)
    std::string log;
    EXPECT_TRUE(Active(c, &log));
    EXPECT_EQ(testsupport::CountMessage(log, "FlashAware::isProcessNameRunning - found monitor flash process: "
                                             "'kap_config' running"),
              1)
        << log;

    c.argv0 = "qtz-app";  // no slash: the whole path is the name
    EXPECT_TRUE(Active(c));

    c.argv0 = "/opt/tools/kap_config.sh";
    EXPECT_FALSE(Active(c));
    c.argv0 = "/opt/tools/Kap_config";
    EXPECT_FALSE(Active(c));
    c.argv0 = "/opt/tools/kap_conf";  // no prefix matching either way
    EXPECT_FALSE(Active(c));
    c.argv0 = "/opt/tools/kap_config/";  // a path ending in "/" never matches
    EXPECT_FALSE(Active(c));
}

TEST(FlashAware, UtilityStartedThroughAnInterpreterDoesNotMatch)
{
    std::string script = sandbox::ScratchDir() + "/kap_config";
    // The trailing command keeps the shell from exec'ing sleep in its place.
    ASSERT_TRUE(sandbox::WriteFile(script, "#!/bin/sh\nsleep 30\nexit 0\n"));
    chmod(script.c_str(), 0755);
    Case c;
    c.program = script;
    c.argv0 = script;
    c.args = {};
    c.shown = "/bin/sh";  // the kernel starts the interpreter under its own path
    EXPECT_FALSE(Active(c));
    unlink(script.c_str());
}

TEST(FlashAware, ConfiguredNames)
{
    Case c;
    c.names = "x,kap_config";  // found after a full scan for x
    c.argv0 = "/usr/bin/kap_config";
    EXPECT_TRUE(Active(c));

    c.names = "custom_tool";  // the configured list replaces the defaults
    EXPECT_FALSE(Active(c));
    c.argv0 = "/sbin/custom_tool";
    EXPECT_TRUE(Active(c));

    c.names = " custom_tool";  // nothing is trimmed
    EXPECT_FALSE(Active(c));
}

TEST(FlashAware, EmptyNameMatchesOnlyAnEmptyProgramName)
{
    Case c;
    c.names = "a,,b";
    c.argv0 = "";  // first argument empty
    EXPECT_TRUE(Active(c));

    c.names = "a,b,";
    c.argv0 = "/bin/sleeper";
    EXPECT_FALSE(Active(c));
}

TEST(FlashAware, LongProgramPathIsCutAt255Bytes)
{
    Case c;
    c.argv0 = "/" + std::string(300, 'd') + "/kap_config";
    EXPECT_FALSE(Active(c));
    // Short enough to fit: found.
    c.argv0 = "/" + std::string(200, 'd') + "/kap_config";
    EXPECT_TRUE(Active(c));
}

// The scan right after a start sees the utility every time: the start
// returns only once /proc shows its command line (it used to return at the
// exec, when the command line may still read empty).
TEST(FlashAware, AUtilityIsSeenRightAfterItStarts)
{
    sandbox::ResetSystemFolders();
    testsupport::RouteLog("/dev/null", true);
    sandbox::ChildResult r = sandbox::RunInPidNamespace([]() {
        int seen = 0;
        for (int i = 0; i < 40; ++i) {
            pid_t pid = StartAs("/bin/sleep", "/opt/tools/kap_config", {"30"});
            if (pid < 0) {
                return 2;
            }
            seen += FlashAware::isMonitorFlashProgramActive() ? 1 : 0;
            StopProcess(pid);
        }
        printf("seen=%d\n", seen);
        return 0;
    });
    sandbox::ResetSystemFolders();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("seen=40\n"), std::string::npos) << r.out;
}
