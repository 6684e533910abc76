// One enumeration through DisplayApi with 1, 4 and 16 emulated monitors,
// beside a bare libusb loop that makes the same transfers to the same
// monitors (open, claim, the three report exchanges with their 5 reads,
// release, close). The difference between the two is the driver's own cost:
// descriptor parsing, decoding, logging, flash checks, records and change
// detection. The emulated monitors run in this process on umockdev's worker
// thread, so process CPU time cannot separate them; the calling thread's CPU
// time is reported as a counter as well.
//
// The driver's own CPU time is measured directly as well: the benchmark
// links wrappers around the libusb calls (bench/common/LibusbMeter.cpp) that
// add up the calling thread's CPU time inside libusb, including the emulated
// monitors' ioctl hand-off. own_cpu_ms_per_monitor = (thread CPU - CPU inside
// libusb) per enumeration and monitor. meter_ms_per_monitor is what the clock
// reads of the wrappers cost; it is included in own_cpu (a bias upwards).
#include <benchmark/benchmark.h>
#include <libusb.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSandbox.h"
#include "CpuMeter.h"
#include "HoldMeter.h"
#include "EmulatedBus.h"
#include "NumberedMonitors.h"
#include "Sandbox.h"
#include "display.h"

namespace {

double ThreadCpuSeconds()
{
    return CpuMeter::ThreadSeconds();
}

// Resident set size of the process, in KiB.
double ResidentKiB()
{
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    double kib = 0;
    while (fgets(line, sizeof(line), status) != nullptr) {
        if (sscanf(line, "VmRSS: %lf", &kib) == 1) {
            break;
        }
    }
    fclose(status);
    return kib;
}

// Keeps the driver's standard-output lines out of the benchmark's report.
class QuietStdout {
public:
    QuietStdout()
    {
        fflush(stdout);
        saved = dup(1);
        FILE* null = fopen("/dev/null", "w");
        dup2(fileno(null), 1);
        fclose(null);
    }
    ~QuietStdout()
    {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

void SetCounters(benchmark::State& state, int monitors, double cpu, double metered = 0, double calls = 0)
{
    state.counters["monitors"] = monitors;
    // Per enumeration, and per monitor: the calling thread's CPU time (the
    // emulated monitors answer on umockdev's worker thread).
    double iterations = static_cast<double>(state.iterations());
    if (iterations > 0) {
        state.counters["cpu_ms_per_enum"] = cpu * 1e3 / iterations;
        state.counters["cpu_ms_per_monitor"] = cpu * 1e3 / iterations / monitors;
        state.counters["libusb_ms_per_monitor"] = metered * 1e3 / iterations / monitors;
        state.counters["own_cpu_ms_per_monitor"] = (cpu - metered) * 1e3 / iterations / monitors;
        state.counters["meter_ms_per_monitor"] = calls * CpuMeter::OverheadPerCall() * 1e3 / iterations / monitors;
    }
}

// Empties the log file between benchmarks: once it reaches its size limit
// the logger stops writing, and every line would then cost less than it does
// while the file has room.
void EmptyLog()
{
    if (truncate("/var/log/pnlmon/pnlmon.log", 0) != 0) {
        // no file yet
    }
}

void BM_DriverEnumeration(benchmark::State& state)
{
    const int monitors = static_cast<int>(state.range(0));
    NumberedMonitors::Plug(monitors);
    EmptyLog();
    QuietStdout quiet;
    DisplayApi api;
    api.initialiseDisplayDriver();
    double cpu = 0;
    double metered = 0;
    double calls = 0;
    HoldMeter::ResetLongest();
    double held0 = HoldMeter::HeldSeconds();
    double holds0 = static_cast<double>(HoldMeter::Holds());
    double wall = 0;
    for (auto _ : state) {
        DisplayInformationList list;
        timespec w0;
        clock_gettime(CLOCK_MONOTONIC, &w0);
        double m0 = CpuMeter::MeteredSeconds();
        double c0 = static_cast<double>(CpuMeter::MeteredCalls());
        double start = ThreadCpuSeconds();
        DISPLAY_CODE code = api.getDisplayInformationList(list);
        cpu += ThreadCpuSeconds() - start;
        timespec w1;
        clock_gettime(CLOCK_MONOTONIC, &w1);
        wall += static_cast<double>(w1.tv_sec - w0.tv_sec) + static_cast<double>(w1.tv_nsec - w0.tv_nsec) * 1e-9;
        metered += CpuMeter::MeteredSeconds() - m0;
        calls += static_cast<double>(CpuMeter::MeteredCalls()) - c0;
        if (code != DSP_OK || static_cast<int>(list.size()) != monitors) {
            state.SkipWithError("enumeration did not list every monitor");
            break;
        }
    }
    SetCounters(state, monitors, cpu, metered, calls);
    if (state.iterations() > 0) {
        // Wall time of the enumeration per monitor, and how long each
        // monitor was open (from libusb_open to libusb_close) per read.
        state.counters["wall_ms_per_monitor"] = wall * 1e3 / static_cast<double>(state.iterations()) / monitors;
        double holds = static_cast<double>(HoldMeter::Holds()) - holds0;
        if (holds > 0) {
            state.counters["held_ms_per_read"] = (HoldMeter::HeldSeconds() - held0) * 1e3 / holds;
            state.counters["held_max_ms"] = HoldMeter::LongestSeconds() * 1e3;
        }
    }
}

// Memory the driver holds between enumerations: resident set and heap in
// use, before the driver exists and after a few enumerations, with the
// monitors already plugged (the emulator's own memory is in both).
void BM_DriverMemory(benchmark::State& state)
{
    const int monitors = static_cast<int>(state.range(0));
    NumberedMonitors::Plug(monitors);
    QuietStdout quiet;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        double rss0 = ResidentKiB();
        double heap0 = static_cast<double>(mallinfo2().uordblks);
        state.ResumeTiming();
        DisplayApi* api = new DisplayApi();
        api->initialiseDisplayDriver();
        for (int i = 0; i < 3; ++i) {
            DisplayInformationList list;
            api->getDisplayInformationList(list);
        }
        state.PauseTiming();
        malloc_trim(0);
        state.counters["rss_kib"] = ResidentKiB() - rss0;
        state.counters["heap_kib"] = (static_cast<double>(mallinfo2().uordblks) - heap0) / 1024.0;
        state.ResumeTiming();
        delete api;
    }
    state.counters["monitors"] = monitors;
}

bool Exchange(libusb_device_handle* h, unsigned char command, unsigned char selector, int reads)
{
    unsigned char out[48] = {0};
    out[1] = command;
    out[2] = selector;
    if (libusb_control_transfer(h, 0x21, 0x09, 0x0200, 0, out, 48, 3000) < 0) {
        return false;
    }
    for (int i = 0; i < reads; ++i) {
        unsigned char in[48] = {0};
        int got = 0;
        if (libusb_interrupt_transfer(h, 0x81, in, 48, &got, 3000) < 0) {
            return false;
        }
    }
    return true;
}

// keepOpen: every monitor stays open and claimed until the start of the
// next enumeration (the lifecycle the driver had before it held a monitor
// only while reading it), instead of one at a time.
void BareLibusb(benchmark::State& state, bool keepOpen)
{
    const int monitors = static_cast<int>(state.range(0));
    NumberedMonitors::Plug(monitors);
    libusb_context* ctx = nullptr;
    libusb_init(&ctx);
    double cpu = 0;
    double metered = 0;
    double calls = 0;
    std::vector<libusb_device_handle*> open;
    auto closeAll = [&open]() {
        for (libusb_device_handle* h : open) {
            libusb_release_interface(h, 0);
            libusb_close(h);
        }
        open.clear();
    };
    for (auto _ : state) {
        double m0 = CpuMeter::MeteredSeconds();
        double c0 = static_cast<double>(CpuMeter::MeteredCalls());
        double start = ThreadCpuSeconds();
        closeAll();
        libusb_device** devs = nullptr;
        ssize_t n = libusb_get_device_list(ctx, &devs);
        int done = 0;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor desc;
            if (libusb_get_device_descriptor(devs[i], &desc) < 0 || desc.idVendor != 0x04B3) {
                continue;
            }
            libusb_device_handle* h = nullptr;
            if (libusb_open(devs[i], &h) < 0) {
                continue;
            }
            if (libusb_claim_interface(h, 0) == 0) {
                if (Exchange(h, 0x01, 0, 1) && Exchange(h, 0x0B, 0, 3) && Exchange(h, 0x0D, 0, 1)) {
                    ++done;
                }
                if (keepOpen) {
                    open.push_back(h);
                    continue;
                }
                libusb_release_interface(h, 0);
            }
            libusb_close(h);
        }
        if (!keepOpen) {
            libusb_free_device_list(devs, 1);
        } else {
            libusb_free_device_list(devs, 0);  // the open handles keep their devices
        }
        cpu += ThreadCpuSeconds() - start;
        metered += CpuMeter::MeteredSeconds() - m0;
        calls += static_cast<double>(CpuMeter::MeteredCalls()) - c0;
        if (done != monitors) {
            state.SkipWithError("bare loop did not reach every monitor");
            break;
        }
    }
    closeAll();
    libusb_exit(ctx);
    SetCounters(state, monitors, cpu, metered, calls);
}

void BM_BareLibusb(benchmark::State& state)
{
    BareLibusb(state, false);
}

void BM_BareLibusbKeepOpen(benchmark::State& state)
{
    BareLibusb(state, true);
}

BENCHMARK(BM_DriverEnumeration)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriverMemory)->Arg(1)->Arg(16)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLibusb)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLibusbKeepOpen)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!BenchSandbox::Enter(argc, argv)) {
        return 1;
    }
    // The driver logs everything (its default level) to
    // "/var/log/pnlmon/pnlmon.log", here on the private tmpfs, with the size
    // limit raised so that every line is written; or nothing with --log-off.
    sandbox::WriteFile("/etc/pnlmon/log.conf", "MaxLength=4294967295\n");
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--log-off") {
            sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=0\n");
            for (int j = i; j + 1 < argc; ++j) {
                argv[j] = argv[j + 1];
            }
            --argc;
            break;
        }
    }
    usbemu::EmulatedBus::instance();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    usbemu::EmulatedBus::instance().unplugAll();
    return 0;
}
