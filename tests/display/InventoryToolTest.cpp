// pnlmon-inventory run as a child process against emulated monitors that
// this process serves: results alone on standard output, exit status per
// driver result, and the watch mode seeing a monitor leave.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <nlohmann/json.hpp>
#include <set>

#include "EmuFixture.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class Child {
public:
    explicit Child(const std::vector<std::string>& args)
    {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
            return;
        }
        fflush(stdout);
        pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            std::vector<char*> argv;
            std::string program = PNLMON_INVENTORY_PATH;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        outFd = outPipe[0];
        errFd = errPipe[0];
    }

    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            Wait();
        }
    }

    // Reads standard output until `text` appears or the time runs out.
    bool ReadUntil(const std::string& text, int timeoutMs = 10000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (result.out.find(text) == std::string::npos) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
            if (left <= 0 || !ReadSome(outFd, result.out, left)) {
                return false;
            }
        }
        return true;
    }

    ToolRun Wait()
    {
        while (outFd >= 0 && ReadSome(outFd, result.out, -1)) {
        }
        while (errFd >= 0 && ReadSome(errFd, result.err, -1)) {
        }
        if (pid > 0) {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid = -1;
        }
        for (int* fd : {&outFd, &errFd}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
        return result;
    }

private:
    static bool ReadSome(int fd, std::string& into, int timeoutMs)
    {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        char buffer[4096];
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got <= 0) {
            return false;
        }
        into.append(buffer, static_cast<size_t>(got));
        return true;
    }

    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
    ToolRun result;
};

ToolRun RunTool(const std::vector<std::string>& args)
{
    Child child(args);
    return child.Wait();
}

class InventoryToolTest : public EmuTest {};

}  // namespace

TEST_F(InventoryToolTest, JsonHoldsTheFullRecordsAndNothingElse)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B", 0x4678));
    ToolRun run = RunTool({"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json all = nlohmann::json::parse(run.out);  // throws on library chatter
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 2u);
    std::set<std::string> ids;
    for (const nlohmann::json& d : all) {
        ids.insert(d.at("deviceId").get<std::string>());
        EXPECT_EQ(d.at("bus"), "USB");
        EXPECT_EQ(d.at("manufacturerName"), "ABC");
        EXPECT_EQ(d.at("currentVideoSource"), "VGA");
        EXPECT_EQ(d.at("horizontalResolution"), 1024);
        EXPECT_EQ(d.at("recommendedBrightnessLevel"), 22);
        EXPECT_TRUE(d.at("supportedResolutionsAndRefreshRates").is_array());
        EXPECT_EQ(d.size(), 32u);  // the record's 30 fields, the device id and the USB place
        EXPECT_EQ(d.at("usb").at("vendorId"), "04b3");
    }
    EXPECT_EQ(ids, (std::set<std::string>{"7427-A10-000000A", "7427-A10-000000B"}));
    // The driver's own lines went to standard error.
    // Quiet by default: the library's own lines reach neither stream.
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("HidIo::get_device_list returns"), std::string::npos);
    ToolRun verbose = RunTool({"--json", "-v", "4"});
    ASSERT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_NE(verbose.err.find("HidIo::get_device_list returns"), std::string::npos);
    EXPECT_EQ(verbose.out.find("HidIo::get_device_list returns"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(verbose.out).size(), 2u);
}

TEST_F(InventoryToolTest, TableListsEveryMonitor)
{
    bus().plug(Monitor("a", "000000A"));
    ToolRun run = RunTool({});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("Device ID"), 0u) << run.out;
    EXPECT_NE(run.out.find("7427-A10-000000A"), std::string::npos);
    EXPECT_NE(run.out.find("1024x768 @ 60 Hz"), std::string::npos);
    EXPECT_EQ(run.out.find("ARRIVED"), std::string::npos);
}

TEST_F(InventoryToolTest, ExitStatusFollowsTheDriverResult)
{
    ToolRun none = RunTool({"--json"});
    EXPECT_EQ(none.status, DSP_NO_DEVICES);
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_NE(none.err.find("no supported monitor found"), std::string::npos);

    bus().plug(Monitor("a", "000000A"));
    // This binary has its own PID namespace: the fake utility is ours alone.
    pid_t utility = testsupport::StartAs("/bin/sleep", "/opt/tools/kap_config", {"30"});
    ToolRun flashing = RunTool({});
    testsupport::StopProcess(utility);
    EXPECT_EQ(flashing.status, DSP_FLASH_IN_PROGRESS);
    EXPECT_EQ(bus().opens("a"), 0);

    EXPECT_EQ(RunTool({"--help"}).status, 0);
    EXPECT_EQ(RunTool({"--watch"}).status, 64);
    EXPECT_EQ(RunTool({"--count", "2"}).status, 64);
}

// A monitor another program holds (the claim fault stands for it; no
// process of it to find) is named with its place; the others are shown as
// usual. All of them busy: exit status 75.
TEST_F(InventoryToolTest, BusyMonitorsAreNamed)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    usbemu::Fault busy;
    busy.kind = usbemu::FaultKind::ClaimFails;
    bus().setFault("b", busy);
    char line[96];
    snprintf(line, sizeof(line), "pnlmon-inventory: bus 001 device %03d (04b3:4676): in use by another program\n",
             bus().address("b"));

    ToolRun json = RunTool({"--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, line);
    nlohmann::json all = nlohmann::json::parse(json.out);
    ASSERT_EQ(all.size(), 2u);
    int busyEntries = 0;
    for (const nlohmann::json& d : all) {
        if (d.contains("state")) {
            ++busyEntries;
            EXPECT_EQ(d.at("state"), "busy");
            EXPECT_EQ(d.at("usb").at("device"), bus().address("b"));
            EXPECT_FALSE(d.contains("deviceId"));
            EXPECT_FALSE(d.contains("holderPid"));
        } else {
            EXPECT_EQ(d.at("deviceId"), "7427-A10-000000A");
        }
    }
    EXPECT_EQ(busyEntries, 1);

    ToolRun list = RunTool({"--list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("not read: in use by another program\n"), std::string::npos) << list.out;

    bus().setFault("a", busy);
    ToolRun all2 = RunTool({});
    EXPECT_EQ(all2.status, 75) << all2.err;
    EXPECT_NE(all2.err.find(line), std::string::npos) << all2.err;
    EXPECT_NE(all2.err.find("every monitor found is in use by another program; try again later"),
              std::string::npos);
    EXPECT_EQ(all2.out, "");
}

TEST_F(InventoryToolTest, WatchReportsArrivalsAndDepartures)
{
    bus().plug(Monitor("a", "000000A"));
    bus().plug(Monitor("b", "000000B"));
    Child child({"--watch", "1", "--count", "3"});
    ASSERT_TRUE(child.ReadUntil("arrived  7427-A10-000000B"));
    bus().unplug("b");
    ASSERT_TRUE(child.ReadUntil("departed 7427-A10-000000B"));
    ToolRun run = child.Wait();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.find("7427-A10-000000A", run.out.find("departed")), std::string::npos)
        << "the monitor that stayed is reported once:\n"
        << run.out;
}

TEST_F(InventoryToolTest, WatchPrintsChangesAsTheyHappen)
{
    // No interval: only the driver's change notifications make it look again.
    Child child({"--watch", "0", "--count", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // its first, empty enumeration
    auto plugged = std::chrono::steady_clock::now();
    bus().plug(Monitor("c", "000000C"));
    ASSERT_TRUE(child.ReadUntil("arrived  7427-A10-000000C", 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - plugged, std::chrono::seconds(3));
    bus().unplug("c");
    ASSERT_TRUE(child.ReadUntil("departed 7427-A10-000000C", 5000));
    EXPECT_EQ(child.Wait().status, DSP_NO_DEVICES);
}
