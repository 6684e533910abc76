// pnlmon-sim running usbemu-probe against scenarios: the child sees the
// monitors and their reports, the timeline and the control FIFO reach it,
// and the tool ends cleanly with the child's status.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Sandbox.h"

namespace {

const std::string kSim = PNLMON_SIM_PATH;
const std::string kProbe = PNLMON_PROBE_PATH;
const std::string kExamples = PNLMON_EXAMPLES_DIR;

struct SimResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Scratch()
{
    return sandbox::ScratchDir();
}

// Runs pnlmon-sim with TMPDIR in the private scratch folder. onLine sees each
// line of standard output as it arrives; afterStart runs once it started.
SimResult Sim(const std::vector<std::string>& args, const std::function<void(const std::string&)>& onLine = nullptr,
        const std::function<void(pid_t)>& afterStart = nullptr)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return SimResult{};
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        setenv("TMPDIR", Scratch().c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(kSim.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (afterStart) {
        afterStart(pid);
    }
    SimResult run;
    std::string partial;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 30000) > 0) {
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t got = read(fd.fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fd.fd);
                fd.fd = -1;
                --open;
                continue;
            }
            if (fd.fd == out[0]) {
                run.out.append(buffer, static_cast<std::size_t>(got));
                partial.append(buffer, static_cast<std::size_t>(got));
                std::size_t end;
                while ((end = partial.find('\n')) != std::string::npos) {
                    if (onLine) {
                        onLine(partial.substr(0, end));
                    }
                    partial.erase(0, end + 1);
                }
            } else {
                run.err.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// Whatever pnlmon-sim or umockdev left in the scratch folder.
std::vector<std::string> Leftovers()
{
    std::vector<std::string> names;
    DIR* dir = opendir(Scratch().c_str());
    while (dir != nullptr) {
        struct dirent* entry = readdir(dir);
        if (entry == nullptr) {
            break;
        }
        std::string name = entry->d_name;
        if (name.rfind("pnlsim.", 0) == 0 || name.rfind("umockdev.", 0) == 0) {
            names.push_back(name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return names;
}

std::string WriteScenario(const std::string& name, const std::string& json)
{
    std::string path = Scratch() + "/" + name;
    sandbox::WriteFile(path, json);
    return path;
}

TEST(PnlmonSim, ChildSeesTheScenarioMonitorsAndTheirReports)
{
    SimResult run = Sim({"-q", kExamples + "/two-monitors.json", "--", kProbe, "list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("MONITOR 04b3:4676 serial=TL12345"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("MONITOR 0f66:467a serial=SR24680"), std::string::npos) << run.out;
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, ExitsWithTheChildsStatus)
{
    EXPECT_EQ(Sim({"-q", kExamples + "/tilo.json", "--", "sh", "-c", "exit 3"}).status, 3);
    SimResult missing = Sim({"-q", kExamples + "/tilo.json", "--", "/nonexistent/program"});
    EXPECT_EQ(missing.status, 127);
    EXPECT_NE(missing.err.find("cannot run /nonexistent/program"), std::string::npos) << missing.err;
    EXPECT_TRUE(Leftovers().empty());
}

// The shim the child runs with: the build tree's, found beside pnlmon-sim,
// unless $PNLMON_NLFIX names another.
TEST(PnlmonSim, ChildRunsWithTheShim)
{
    std::string scenario = kExamples + "/tilo.json";
    std::vector<std::string> showPreload{"-q", scenario, "--", "sh", "-c", "echo \"$LD_PRELOAD\""};
    auto shimOf = [](const std::string& preload) {
        std::size_t end = preload.find("libpnlmon_nlfix.so");
        if (end == std::string::npos) {
            return std::string();
        }
        std::size_t start = preload.rfind(':', end);
        start = start == std::string::npos ? 0 : start + 1;
        std::string path = preload.substr(start, end + strlen("libpnlmon_nlfix.so") - start);
        char resolved[PATH_MAX];
        return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    };
    char built[PATH_MAX];
    ASSERT_NE(realpath(PNLMON_BUILD_NLFIX, built), nullptr);

    unsetenv("PNLMON_NLFIX");
    SimResult found = Sim(showPreload);
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(shimOf(found.out), built) << found.out;

    std::string other = Scratch() + "/other/libpnlmon_nlfix.so";
    mkdir((Scratch() + "/other").c_str(), 0755);
    std::string copy = "cp " + std::string(built) + " " + other;
    ASSERT_EQ(system(copy.c_str()), 0);
    char otherResolved[PATH_MAX];
    ASSERT_NE(realpath(other.c_str(), otherResolved), nullptr);
    setenv("PNLMON_NLFIX", other.c_str(), 1);
    SimResult chosen = Sim(showPreload);
    unsetenv("PNLMON_NLFIX");
    EXPECT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(shimOf(chosen.out), otherResolved) << chosen.out;
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, TimelineReachesTheChild)
{
    std::string scenario = WriteScenario("timeline.json", R"({
        "monitors": [{"name": "a"}, {"name": "b", "pid": "0x4677", "present": false}],
        "timeline": [{"at": 1.0, "unplug": "a"}, {"at": 1.5, "plug": "b"}, {"at": 2.0, "plug": "a"}]})");
    // The child may start after the first event when it starts slowly.
    SimResult run = Sim({scenario, "--", kProbe, "watch", "0", "1", "2"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("unplugged a"), std::string::npos);
}

TEST(PnlmonSim, ControlFifoPlugsReachTheChild)
{
    std::string scenario = WriteScenario("fifo.json", R"({
        "monitors": [{"name": "a"}, {"name": "b", "vid": 3942, "pid": "0x467A", "present": false}]})");
    std::string fifo = Scratch() + "/control";
    auto send = [&fifo](const std::string& commands) {
        int fd = open(fifo.c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
        close(fd);
    };
    int sent = 0;
    SimResult run = Sim({"--control", fifo, scenario, "--", kProbe, "watch", "1", "2", "1"},
                        [&](const std::string& line) {
                            if (line == "COUNT 1" && sent == 0) {
                                sent = 1;
                                send("plug nobody\nplug b\n");
                            } else if (line == "COUNT 2" && sent == 1) {
                                sent = 2;
                                send("unplug a\n");
                            }
                        });
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("no monitor named \"nobody\""), std::string::npos) << run.err;
    EXPECT_FALSE(sandbox::Exists(fifo));  // created by pnlmon-sim, so removed by it
}

// A second program beside the main command, and another program holding a
// monitor (a real process, shown in /proc) from the timeline: the monitor is
// busy for the second program while held, and readable once the hold ended.
TEST(PnlmonSim, TimelineHoldsAMonitorAndRunsASecondProgram)
{
    std::string scenario = WriteScenario("hold.json", R"({
        "monitors": [{"name": "a", "kernelDriverBound": true,
                      "inventory": {"serialNumber": "1111111"}}],
        "timeline": [{"at": 0, "hold": "a", "seconds": 2, "as": "kap_download"},
                     {"at": 0, "run": [")" + kProbe + R"(", "list"]}]})");
    std::string main = "sleep 0.5; cat /proc/[0-9]*/comm | grep -c '^kap_download$'; sleep 2.5; exec " + kProbe +
                       " list";
    SimResult run = Sim({scenario, "--", "sh", "-c", main});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // The second program found it held; the main command, after the hold, not.
    EXPECT_NE(run.out.find("MONITOR 04b3:4676 error=LIBUSB_ERROR_BUSY"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n1\n"), std::string::npos) << run.out;  // one kap_download process
    EXPECT_NE(run.out.find("MONITOR 04b3:4676 serial=1111111"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("kap_download (pid "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(") holds a for 2s"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("run " + kProbe), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("hold of a (pid "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("ended with status 1"), std::string::npos) << run.err;
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, ControlLinesHoldReleaseAndRun)
{
    std::string scenario = WriteScenario("control.json", R"({"monitors": [{"name": "a"}]})");
    std::string fifo = Scratch() + "/control";
    auto send = [&fifo](const std::string& commands) {
        int fd = open(fifo.c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
        close(fd);
    };
    int step = 0;
    // The main command waits until the monitor is gone.
    SimResult run = Sim({"--control", fifo, scenario, "--", kProbe, "watch", "1", "0"},
                        [&](const std::string& line) {
                            if (line == "COUNT 1" && step == 0) {
                                step = 1;
                                send("hold a soon\nhold a 1 bad/name\nrelease nobody\nhold a 60 flasher\n"
                                     "hold a 60\nrun " + kProbe + " list\n");
                            } else if (line.find("error=LIBUSB_ERROR_BUSY") != std::string::npos && step == 1) {
                                step = 2;
                                send("state a\nrelease a\nstate\nstate nobody\nrun " + kProbe + " list\n");
                            } else if (line.find("serial=") != std::string::npos && step == 2) {
                                step = 3;
                                send("unplug a\n");
                            }
                        });
    EXPECT_EQ(step, 3) << run.out << run.err;
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("\"soon\" is not a number of seconds"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("a process name has only"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing holds \"nobody\""), std::string::npos) << run.err;
    // The second hold met the first one's claim: refused, nothing held.
    EXPECT_NE(run.err.find("did not start (exit status 3)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("cannot claim interface 0 of 001/"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("flasher (pid "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("state a: interface 0 usbfs, open files 1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("state a: interface 0 usbhid, open files 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\"nobody\" is not plugged"), std::string::npos) << run.err;
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, SigtermStopsTheChildAndLeavesNothingBehind)
{
    std::string pidFile = Scratch() + "/child.pid";
    auto start = std::chrono::steady_clock::now();
    SimResult run = Sim({kExamples + "/churn.json", "--", "sh", "-c", "echo $$ > " + pidFile + "; exec sleep 30"}, nullptr,
                  [&](pid_t sim) {
                      for (int i = 0; i < 200 && !sandbox::Exists(pidFile); ++i) {
                          usleep(10 * 1000);
                      }
                      kill(sim, SIGTERM);
                  });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
    EXPECT_NE(run.err.find("stopping on"), std::string::npos) << run.err;
    std::string pid;
    ASSERT_TRUE(sandbox::ReadFile(pidFile, pid));
    EXPECT_NE(kill(std::stoi(pid), 0), 0);  // the child is gone
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, BadScenariosAreRefusedWithTheirPlace)
{
    struct Case {
        const char* json;
        const char* message;
    } cases[] = {
        {"{", "not valid JSON"},
        {R"({"monitors": [{"pid": "0x4676"}]})", "monitors[0]: needs a \"name\""},
        {R"({"monitors": [{"name": "a", "vid": "0x10000"}]})", "monitors[0] (a).vid: 65536 is above 65535"},
        {R"({"monitors": [{"name": "a", "interfaces": 5}]})", "(a).interfaces: 5 is above 4"},
        {R"({"monitors": [{"name": "a", "edid": "00ff1"}]})", "odd number of hexadecimal digits"},
        {R"({"monitors": [{"name": "a", "edid": {"file": "missing.bin"}}]})", "cannot read"},
        {R"({"monitors": [{"name": "a", "inventory": {"model": "TOOLONG"}}]})", "longer than 3 characters"},
        {R"({"monitors": [{"name": "a", "fault": {"kind": "Melts"}}]})", "needs a fault kind"},
        {R"({"monitors": [{"name": "a", "colour": 1}]})", "unknown key \"colour\""},
        {R"({"monitors": [{"name": "a"}, {"name": "a"}]})", "used twice"},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "plug": "b"}]})", "no monitor is named \"b\""},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": -1, "plug": "a"}]})", "needs \"at\""},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "hold": "a"}]})", "a hold needs \"seconds\""},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "hold": "a", "seconds": 1, "as": "a/b"}]})",
         "timeline[0].as: a process name has only"},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "unplug": "a", "seconds": 1}]})",
         "\"seconds\" belongs to a \"hold\""},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "run": "true"}]})", "timeline[0].run: must be a list"},
        {R"({"monitors": [{"name": "a"}], "timeline": [{"at": 1, "run": ["x"], "plug": "a"}]})", "exactly one of"},
    };
    for (const Case& c : cases) {
        std::string path = WriteScenario("bad.json", c.json);
        SimResult run = Sim({path, "--", "true"});
        EXPECT_EQ(run.status, 2) << c.json;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.json << " -> " << run.err;
    }
    EXPECT_TRUE(Leftovers().empty());
}

TEST(PnlmonSim, ExamplesAreValid)
{
    const char* examples[] = {"tilo.json", "merv.json", "sarn.json", "two-monitors.json", "displayport.json",
                              "churn.json"};
    for (const char* example : examples) {
        SimResult run = Sim({"--check", kExamples + "/" + example});
        EXPECT_EQ(run.status, 0) << example << ": " << run.err;
    }
    SimResult dp = Sim({"--check", kExamples + "/displayport.json"});
    EXPECT_NE(dp.out.find("monitor dp 0f66:467a interfaces=1 endpoints=1 endpoint=0x81 edid=256"),
              std::string::npos) << dp.out;
}

}  // namespace
