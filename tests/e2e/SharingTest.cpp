// Two programs on one bus: the embedded host with the provider (announcing
// changes as they happen, with active subscriptions) holds no monitor
// between requests, so pnlmon-inventory and a flash-utility stand-in
// (pnlmon-sim-hold), each a process of its own with the real libusb, get
// the monitors; and a monitor another program holds is not reported gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CimHost.h"
#include "EmulatedBus.h"
#include "IndicationChanges.h"
#include "Sandbox.h"

using cimhost::CimHost;
using cimhost::HostValue;
using usbemu::EmulatedBus;
using usbemu::InventoryFields;
using usbemu::MonitorSpec;
using namespace std::chrono_literals;

namespace {

const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";
const char kLog[] = "/var/log/pnlmon/pnlmon.log";
const auto kQuiet = 1500ms;

std::string Id(const std::string& serial)
{
    return "7427-A10-" + serial;
}

MonitorSpec Monitor(const std::string& name, const std::string& serial)
{
    MonitorSpec spec;
    spec.name = name;
    InventoryFields f;
    f.machine = "7427";
    f.model = "A10";
    f.serialNumber = serial;
    spec.inventory = f.bytes();
    spec.kernelDriverBound = true;  // as on a terminal: usbhid has it
    return spec;
}

EmulatedBus& Bus()
{
    return EmulatedBus::instance();
}

std::set<std::string> Ids(const cimhost::RequestResult& result)
{
    std::set<std::string> ids;
    for (const auto& instance : result.instances) {
        const HostValue* id = instance.find("DeviceID");
        ids.insert(id != nullptr ? id->text : "?");
    }
    return ids;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// A program of its own: standard output and error into files, read once it
// has ended.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        static std::atomic<int> serial{0};
        std::string base = std::string(getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp") + "/sharing-" +
                           std::to_string(getpid()) + "-" + std::to_string(serial++);
        outPath = base + ".out";
        errPath = base + ".err";
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid = fork();
        if (pid == 0) {
            dup2(out, 1);
            dup2(err, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out);
        close(err);
    }
    ~Program()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            wait();
        }
        unlink(outPath.c_str());
        unlink(errPath.c_str());
    }
    // Standard output so far.
    std::string out() const
    {
        std::string text;
        sandbox::ReadFile(outPath, text);
        return text;
    }
    ProgramRun wait()
    {
        ProgramRun run;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid = -1;
        sandbox::ReadFile(outPath, run.out);
        sandbox::ReadFile(errPath, run.err);
        return run;
    }
    pid_t pid = -1;

private:
    std::string outPath;
    std::string errPath;
};

ProgramRun Inventory(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {PNLMON_INVENTORY_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return Program(all).wait();
}

// pnlmon-sim-hold on the named monitor; returns once it holds the interface.
std::unique_ptr<Program> Hold(const std::string& name, const std::string& seconds)
{
    std::unique_ptr<Program> holder(new Program({PNLMON_SIM_HOLD_PATH, "--name=kap_download",
                                                 "--seconds=" + seconds, "1",
                                                 std::to_string(Bus().address(name))}));
    for (int i = 0; i < 1000 && holder->out().find("held ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return holder;
}

class SharingTest : public testing::Test {
protected:
    // Once: the host's log file stays open across the tests, and the tools
    // append to the same file.
    static void SetUpTestSuite()
    {
        sandbox::ResetSystemFolders();
        ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "AnnounceChanges=immediate\n"));
        // The tool loop writes more than the default 10 MiB at the trace
        // level; the lines the later tests look for must still be written.
        ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/log.conf", "MaxLength=268435456\n"));
    }

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(host.load(PNLMON_PROVIDER_PATH, &error)) << error;
        ASSERT_TRUE(host.loadInstanceMI().ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstCreation", true).ok());
        ASSERT_TRUE(host.activateFilter("CIM_InstDeletion", false).ok());
        ASSERT_TRUE(host.enableIndications());
    }

    void TearDown() override
    {
        if (host.isLoaded()) {
            EXPECT_TRUE(host.unload());
        }
        Bus().unplugAll();
    }

    std::vector<std::string> settled()
    {
        std::this_thread::sleep_for(kQuiet);
        return IndicationChanges::Of(host.indications().take());
    }

    // Lines of the driver's log that contain text.
    static int LogCount(const std::string& text)
    {
        std::string log;
        sandbox::ReadFile(kLog, log);
        int count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }

    CimHost host;
};

}  // namespace

// pnlmon-inventory in a loop beside the host while a monitor is plugged and
// pulled and requests come in: every run lists every monitor attached
// throughout it, every request succeeds with exactly the attached monitors,
// and the host announces each real change once and nothing else.
TEST_F(SharingTest, ToolLoopBesideTheHost)
{
    const char* env = getenv("PNLMON_SHARING_SECONDS");
    const auto length = std::chrono::seconds(env != nullptr ? atoi(env) : 15);
    Bus().plug(Monitor("a", "5000001"));
    Bus().plug(Monitor("b", "5000002"));
    ASSERT_TRUE(host.waitForIndications(2, 10s));
    std::vector<std::string> first = settled();
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{"+" + Id("5000001"), "+" + Id("5000002")}));

    std::mutex lock;
    std::set<std::string> attached = {Id("5000001"), Id("5000002")};
    std::vector<std::string> faults;
    std::atomic<bool> stop{false};
    std::atomic<int> runs{0};
    std::thread tool([&] {
        while (!stop) {
            std::set<std::string> before;
            {
                std::lock_guard<std::mutex> guard(lock);
                before = attached;
            }
            ProgramRun run = Inventory({"--json"});
            std::set<std::string> after;
            {
                std::lock_guard<std::mutex> guard(lock);
                after = attached;
            }
            ++runs;
            std::set<std::string> listed;
            std::string fault;
            if (run.status != 0) {
                fault = "exit " + std::to_string(run.status) + ": " + run.err;
            } else {
                try {
                    for (const auto& entry : nlohmann::json::parse(run.out)) {
                        if (entry.contains("state")) {
                            fault += "busy entry " + entry.dump() + "; ";
                        } else {
                            listed.insert(entry.at("deviceId").get<std::string>());
                        }
                    }
                } catch (const std::exception& e) {
                    fault = std::string("bad JSON: ") + e.what();
                }
                for (const std::string& id : before) {
                    if (after.count(id) != 0 && listed.count(id) == 0) {
                        fault += "missing " + id + "; ";
                    }
                }
                for (const std::string& id : listed) {
                    if (before.count(id) == 0 && after.count(id) == 0) {
                        fault += "extra " + id + "; ";
                    }
                }
            }
            if (!fault.empty()) {
                std::lock_guard<std::mutex> guard(lock);
                faults.push_back(fault);
            }
        }
    });

    int plugs = 0;
    int pulls = 0;
    int requests = 0;
    auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (Bus().isPlugged("c")) {
                Bus().unplug("c");
                attached.erase(Id("5000003"));
                ++pulls;
            } else {
                Bus().plug(Monitor("c", "5000003"));
                attached.insert(Id("5000003"));
                ++plugs;
            }
        }
        std::set<std::string> now;
        {
            std::lock_guard<std::mutex> guard(lock);
            now = attached;
        }
        for (int i = 0; i < 3; ++i) {
            auto result = i % 2 == 0 ? host.enumerateInstances(kNs, kClass) : host.enumerateInstanceNames(kNs, kClass);
            EXPECT_TRUE(result.ok()) << result.status.rc;
            if (i % 2 == 0) {
                EXPECT_EQ(Ids(result), now);
            } else {
                EXPECT_EQ(result.paths.size(), now.size());
            }
            ++requests;
            std::this_thread::sleep_for(300ms);
        }
    }
    stop = true;
    tool.join();
    for (const std::string& fault : faults) {
        ADD_FAILURE() << "tool run: " << fault;
    }
    EXPECT_GT(runs.load(), 3);
    std::vector<std::string> changes = settled();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), "+" + Id("5000003")), plugs);
    EXPECT_EQ(std::count(changes.begin(), changes.end(), "-" + Id("5000003")), pulls);
    std::string all;
    for (const std::string& change : changes) {
        all += change + " ";
    }
    EXPECT_EQ(changes.size(), static_cast<size_t>(plugs + pulls)) << all;
    RecordProperty("tool_runs", runs.load());
    RecordProperty("requests", requests);
    RecordProperty("changes", plugs + pulls);
}

// A flash utility started after a request gets the monitor; while it holds
// it, pnlmon-inventory names it and its holder and exits 75, and the host
// keeps the monitor: no departure, no arrival, its instance served from the
// last read, the INFO line. After the hold, the host reads it again, still
// without any change.
TEST_F(SharingTest, MonitorHeldByAnotherProgramIsNotGone)
{
    Bus().plug(Monitor("a", "6000001"));
    ASSERT_TRUE(host.waitForIndications(1, 10s));
    EXPECT_EQ(settled(), std::vector<std::string>{"+" + Id("6000001")});
    auto before = host.enumerateInstances(kNs, kClass);
    ASSERT_TRUE(before.ok());
    ASSERT_EQ(Ids(before), std::set<std::string>{Id("6000001")});

    char info[160];
    snprintf(info, sizeof(info),
             "bus 001 device %03d (04b3:4676) is in use by another program; not read, its earlier record kept",
             Bus().address("a"));
    int infoBefore = LogCount(info);
    // Longer than the driver's retries, and than the tool run below.
    std::unique_ptr<Program> holder = Hold("a", "4");
    ASSERT_NE(holder->out().find("held "), std::string::npos) << holder->wait().err;
    EXPECT_EQ(Bus().interfaceHolder("a"), "usbfs");

    ProgramRun tool = Inventory({});
    EXPECT_EQ(tool.status, 75) << tool.err;
    char line[128];
    snprintf(line, sizeof(line), "bus 001 device %03d (04b3:4676): in use by another program (pid %ld, kap_download)",
             Bus().address("a"), static_cast<long>(holder->pid));
    EXPECT_NE(tool.err.find(line), std::string::npos) << tool.err;

    auto during = host.enumerateInstances(kNs, kClass);
    ASSERT_TRUE(during.ok());
    EXPECT_EQ(Ids(during), std::set<std::string>{Id("6000001")});
    EXPECT_EQ(during.instances.size(), 1u);
    EXPECT_EQ(LogCount(info), infoBefore + 1);
    EXPECT_TRUE(settled().empty());

    ProgramRun held = holder->wait();
    EXPECT_EQ(held.status, 0) << held.err;
    auto after = host.enumerateInstances(kNs, kClass);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(Ids(after), std::set<std::string>{Id("6000001")});
    EXPECT_TRUE(settled().empty());
}

// After requests, tool runs and a flash utility's turn, the host's
// terminating cleanup leaves every monitor free, its kernel driver bound,
// and no file of it open.
TEST_F(SharingTest, TerminatingCleanupLeavesEveryMonitorToItsKernelDriver)
{
    Bus().plug(Monitor("a", "7000001"));
    Bus().plug(Monitor("b", "7000002"));
    ASSERT_TRUE(host.waitForIndications(2, 10s));
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    // Between requests nothing of the host holds them: a utility claims at
    // once.
    EXPECT_EQ(Bus().openFiles("a"), 0);
    EXPECT_EQ(Bus().interfaceHolder("a"), "usbhid");
    ProgramRun quick = Program({PNLMON_SIM_HOLD_PATH, "--seconds=0.1", "1", std::to_string(Bus().address("b"))}).wait();
    EXPECT_EQ(quick.status, 0) << quick.err;
    EXPECT_EQ(Inventory({"--list"}).status, 0);
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    ASSERT_TRUE(host.unload());
    for (const char* name : {"a", "b"}) {
        EXPECT_EQ(Bus().openFiles(name), 0) << name;
        EXPECT_EQ(Bus().interfaceHolder(name), "usbhid") << name;
    }
}
