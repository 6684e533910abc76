// What the fleet-metrics collector costs per run: pnlmon-inventory
// --prometheus --output=FILE started as the timer starts it (a new process:
// loader, libusb and driver start-up, one enumeration, the text, the atomic
// replacement of the file), against 1, 2 and 4 emulated monitors. The
// monitors are served by this process (umockdev's worker thread), so the
// child's CPU time (user + system, from its rusage) is the collector's own;
// cpu_ms_per_run is that, and the benchmark's real time the wall time of a
// run. BM_Format is the text alone, in process.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSandbox.h"
#include "EmulatedBus.h"
#include "NumberedMonitors.h"
#include "PrometheusView.h"
#include "Sandbox.h"

namespace {

double ChildrenCpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_CollectorRun(benchmark::State& state)
{
    const int monitors = static_cast<int>(state.range(0));
    NumberedMonitors::Plug(monitors);
    const std::string output = "--output=" + sandbox::ScratchDir() + "/pnlmon.prom";
    if (truncate("/var/log/pnlmon/pnlmon.log", 0) != 0) {
        // no file yet
    }
    const double cpu0 = ChildrenCpuSeconds();
    for (auto _ : state) {
        pid_t pid = fork();
        if (pid < 0) {
            state.SkipWithError("fork failed");
            break;
        }
        if (pid == 0) {
            execl(PNLMON_INVENTORY_PATH, "pnlmon-inventory", "--prometheus", output.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the collector failed");
            break;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["monitors"] = monitors;
    if (runs > 0) {
        state.counters["cpu_ms_per_run"] = (ChildrenCpuSeconds() - cpu0) * 1e3 / runs;
    }
}
BENCHMARK(BM_CollectorRun)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Format(benchmark::State& state)
{
    PrometheusView::Reading reading;
    for (int i = 0; i < state.range(0); ++i) {
        DisplayInformation d;
        d.physicalDeviceName = "7427";
        d.modelName = "A10";
        d.serialNumber = std::to_string(1000000 + i);
        d.manufacturerName = "ABC";
        d.firmwareRevision = "0105";
        d.currentVideoSource = "VGA";
        d.backlightState = 1;
        d.horizontalResolution = 1024;
        d.verticalResolution = 768;
        d.refreshRate = 60;
        d.preferredResolutionAndRefreshRate = "1024 x 768 @ 60Hz";
        std::string id;
        d.getDeviceId(id);
        reading.records.push_back(d);
        DisplayReport r;
        r.deviceId = id;
        reading.reports.push_back(r);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(PrometheusView::Format(reading));
    }
}
BENCHMARK(BM_Format)->Arg(2)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!BenchSandbox::Enter(argc, argv)) {
        return 1;
    }
    // The packaged log level into the (private) log file, emptied before
    // each benchmark: a log at its limit would make later runs cheaper.
    if (!sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=2\n")) {
        fprintf(stderr, "cannot write the private /etc/pnlmon/log.conf\n");
        return 1;
    }
    usbemu::EmulatedBus::instance();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    usbemu::EmulatedBus::instance().unplugAll();
    return 0;
}
