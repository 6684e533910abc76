// Cost of one enumerate-instances request (the CIMOM's "ei") through the
// embedded host, provider and driver against 1, 4 and 16 emulated monitors.
// The request runs on the calling thread; the emulated monitors answer from
// umockdev's own thread. So the calling thread's CPU time is the work done
// by provider, driver and libusb, and the rest of the wall time is spent
// waiting for the (emulated) USB transfers. The CPU time inside the
// driver's getDisplayInformationList is metered (DriverMeter.cpp), so
// beyond_driver_ms_per_instance is the host's and the provider's own work
// per instance.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "BenchSandbox.h"
#include "CimHost.h"
#include "CpuMeter.h"
#include "EmulatedBus.h"
#include "Sandbox.h"

namespace {

double ThreadCpuSeconds()
{
    return CpuMeter::ThreadSeconds();
}

double WallSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_EnumerateInstances(benchmark::State& state)
{
    const int monitors = static_cast<int>(state.range(0));
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    bus.unplugAll();
    for (int m = 0; m < monitors; ++m) {
        usbemu::InventoryFields fields;
        fields.serialNumber = std::to_string(1000000 + m);
        usbemu::MonitorSpec spec;
        spec.name = "m" + std::to_string(m);
        spec.pid = static_cast<uint16_t>(0x4676 + m % 4);
        spec.inventory = fields.bytes();
        bus.plug(spec);
    }
    // Once the log file reaches its size limit the logger stops writing and
    // lines cost less: start each benchmark with an empty file.
    if (truncate("/var/log/pnlmon/pnlmon.log", 0) != 0) {
        // no file yet
    }
    cimhost::CimHost host;
    std::string error;
    if (!host.load(PNLMON_PROVIDER_PATH, &error)) {
        state.SkipWithError(("cannot load the provider: " + error).c_str());
        return;
    }
    host.enumerateInstances("root/cimv2", "QAV_Display");  // loads the MI, first enumeration

    double cpu = 0;
    double wall = 0;
    double driver = 0;
    for (auto _ : state) {
        double d0 = CpuMeter::MeteredSeconds();
        double c0 = ThreadCpuSeconds();
        double w0 = WallSeconds();
        cimhost::RequestResult r = host.enumerateInstances("root/cimv2", "QAV_Display");
        wall += WallSeconds() - w0;
        cpu += ThreadCpuSeconds() - c0;
        driver += CpuMeter::MeteredSeconds() - d0;
        if (r.instances.size() != static_cast<size_t>(monitors)) {
            state.SkipWithError("wrong number of instances");
            break;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["provider_driver_cpu_ms"] = cpu / n * 1e3;
    state.counters["usb_wait_ms"] = (wall - cpu) / n * 1e3;
    state.counters["wall_ms"] = wall / n * 1e3;
    state.counters["driver_cpu_ms"] = driver / n * 1e3;
    state.counters["beyond_driver_ms_per_instance"] = (cpu - driver) / n * 1e3 / monitors;
    host.unload();
    bus.unplugAll();
}
BENCHMARK(BM_EnumerateInstances)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (!BenchSandbox::Enter(argc, argv)) {
        return 1;
    }
    // Both libraries log everything (the default level), every line written:
    // the size limit is raised.
    sandbox::WriteFile("/etc/pnlmon/log.conf", "MaxLength=4294967295\n");
    usbemu::EmulatedBus::instance();
    // The libraries' own lines on standard output would mix with the results.
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
