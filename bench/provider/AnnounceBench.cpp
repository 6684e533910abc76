// Announcing changes as they happen ("AnnounceChanges=immediate"), through
// the embedded host, provider and real driver against emulated monitors:
//
// BM_PlugToIndication: wall time from the emulator adding a monitor to the
// CIM_InstCreation reaching the host's broker, over 100 plugs (each one
// pulled again, and its deletion awaited, before the next). The settle delay
// the announcer waits on purpose is reported apart from the rest, which is
// the uevent's way to the driver's watcher, the refresh (its USB exchanges
// with the emulated monitor included) and the indication thread.
//
// BM_WatcherIdleCpu: CPU time of the driver's watching thread and the
// provider's announcing thread over 60 s with nothing happening (two monitors
// attached, subscription active). With no polling it should be about zero.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSandbox.h"
#include "CimHost.h"
#include "EmulatedBus.h"
#include "Sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;
const double kSettleMs = 250.0;  // the announcer's settle delay

usbemu::MonitorSpec Monitor(const std::string& name, int serial)
{
    usbemu::InventoryFields fields;
    fields.serialNumber = std::to_string(serial);
    usbemu::MonitorSpec spec;
    spec.name = name;
    spec.inventory = fields.bytes();
    return spec;
}

// Loads the provider and subscribes to both lifecycle classes.
bool Subscribe(cimhost::CimHost& host, benchmark::State& state)
{
    std::string error;
    if (!host.load(PNLMON_PROVIDER_PATH, &error) || !host.loadInstanceMI().ok() ||
        !host.activateFilter("CIM_InstCreation", true).ok() ||
        !host.activateFilter("CIM_InstDeletion", false).ok() || !host.enableIndications()) {
        state.SkipWithError(("cannot load and subscribe: " + error).c_str());
        return false;
    }
    return true;
}

void BM_PlugToIndication(benchmark::State& state)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    bus.unplugAll();
    cimhost::CimHost host;
    if (!Subscribe(host, state)) {
        return;
    }
    std::mutex lock;
    std::condition_variable arrived;
    size_t delivered = 0;
    Clock::time_point lastDelivery;
    host.indications().setListener([&](const cimhost::HostIndication&) {
        std::lock_guard<std::mutex> guard(lock);
        ++delivered;
        lastDelivery = Clock::now();
        arrived.notify_all();
    });
    auto waitFor = [&](size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, std::chrono::seconds(10), [&] { return delivered >= count; });
    };
    std::vector<double> latencies;
    size_t expected = 0;
    int serial = 7000000;
    for (auto _ : state) {
        Clock::time_point plugged = Clock::now();
        bus.plug(Monitor("bench", ++serial));
        if (!waitFor(++expected)) {
            state.SkipWithError("no creation within 10 s");
            break;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            latencies.push_back(std::chrono::duration<double, std::milli>(lastDelivery - plugged).count());
        }
        bus.unplug("bench");
        if (!waitFor(++expected)) {
            state.SkipWithError("no deletion within 10 s");
            break;
        }
    }
    host.indications().setListener(nullptr);
    host.unload();
    if (latencies.empty()) {
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    double median = latencies[latencies.size() / 2];
    double max = latencies.back();
    state.counters["plugs"] = static_cast<double>(latencies.size());
    state.counters["median_ms"] = median;
    state.counters["max_ms"] = max;
    state.counters["min_ms"] = latencies.front();
    state.counters["settle_ms"] = kSettleMs;
    state.counters["median_beyond_settle_ms"] = median - kSettleMs;
    state.counters["max_beyond_settle_ms"] = max - kSettleMs;
}
BENCHMARK(BM_PlugToIndication)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();

// CPU time (from schedstat, in nanoseconds) and wakeups (voluntary context
// switches) of this process's threads named `name`.
struct ThreadUse {
    double cpuSeconds = 0;
    unsigned long long wakeups = 0;
    int threads = 0;
};

ThreadUse ThreadsNamed(const std::string& name)
{
    ThreadUse use;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return use;
    }
    while (dirent* entry = readdir(tasks)) {
        std::string dir = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream comm(dir + "/comm");
        std::string threadName;
        if (!std::getline(comm, threadName) || threadName != name) {
            continue;
        }
        std::ifstream schedstat(dir + "/schedstat");
        unsigned long long onCpuNs = 0;
        schedstat >> onCpuNs;
        use.cpuSeconds += static_cast<double>(onCpuNs) * 1e-9;
        std::ifstream status(dir + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                use.wakeups += std::stoull(line.substr(line.find(':') + 1));
            }
        }
        ++use.threads;
    }
    closedir(tasks);
    return use;
}

double ProcessCpu()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_WatcherIdleCpu(benchmark::State& state)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    bus.unplugAll();
    bus.plug(Monitor("idle1", 8000001));
    bus.plug(Monitor("idle2", 8000002));
    cimhost::CimHost host;
    if (!Subscribe(host, state)) {
        return;
    }
    host.enumerateInstances("root/cimv2", "QAV_Display");
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the first announcements go out
    const double seconds = static_cast<double>(state.range(0));
    ThreadUse watcher, announcer;
    for (auto _ : state) {
        ThreadUse w0 = ThreadsNamed("pnlmon-hotplug");
        ThreadUse a0 = ThreadsNamed("pnlmon-announce");
        double p0 = ProcessCpu();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        watcher = ThreadsNamed("pnlmon-hotplug");
        announcer = ThreadsNamed("pnlmon-announce");
        state.counters["watcher_cpu_ms"] = (watcher.cpuSeconds - w0.cpuSeconds) * 1e3;
        state.counters["watcher_wakeups"] = static_cast<double>(watcher.wakeups - w0.wakeups);
        state.counters["announcer_cpu_ms"] = (announcer.cpuSeconds - a0.cpuSeconds) * 1e3;
        state.counters["announcer_wakeups"] = static_cast<double>(announcer.wakeups - a0.wakeups);
        state.counters["process_cpu_ms"] = (ProcessCpu() - p0) * 1e3;
    }
    state.counters["idle_s"] = seconds;
    state.counters["watcher_threads"] = watcher.threads;
    state.counters["announcer_threads"] = announcer.threads;
    host.unload();
    bus.unplugAll();
}
BENCHMARK(BM_WatcherIdleCpu)->Arg(60)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (!BenchSandbox::Enter(argc, argv)) {
        return 1;
    }
    std::string error;
    if (!usbemu::DeepenUeventQueues(4096, &error)) {
        fprintf(stderr, "uevent queues stay shallow: %s\n", error.c_str());
    }
    // Errors only in the log: the figures are about announcing, not logging.
    sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=1\n");
    sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "AnnounceChanges=immediate\n");
    usbemu::EmulatedBus::instance();
    int results = dup(1);
    dup2(2, 1);
    std::ofstream out("/proc/self/fd/" + std::to_string(results));
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&out);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
