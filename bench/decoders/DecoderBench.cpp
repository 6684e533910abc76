// Decoder benchmarks: EDID, inventory and OSD decoding, and one log line,
// with the log at level 0 (every line filtered) and at level 4 (every line
// written to a file).
//
//   bench_decoders [benchmark options]            both levels, one process each
//   bench_decoders --level=N [benchmark options]  level N only
//
// The log configuration is read from the fixed "/etc/pnlmon/log.conf", so
// each level runs in its own process inside a private mount namespace where
// that file (and the log file) exist only for the run.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DeviceData.h"
#include "Edid.h"
#include "Inventory.h"
#include "Logger.h"
#include "Osd.h"
#include "Sandbox.h"
#include "log.h"

namespace {

const char kLogFile[] = "/var/log/pnlmon/bench.log";

std::vector<unsigned char> g_edid;

long LogSize()
{
    struct stat st;
    return stat(kLogFile, &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Reports the log bytes written per iteration.
class LogBytes {
public:
    explicit LogBytes(benchmark::State& state) : m_State(state), m_Start(LogSize()) {}
    ~LogBytes()
    {
        m_State.counters["log_bytes_per_op"] = benchmark::Counter(
            static_cast<double>(LogSize() - m_Start), benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& m_State;
    long m_Start;
};

void EdidDecode(benchmark::State& state)
{
    LogBytes bytes(state);
    for (auto _ : state) {
        // One block per object, as the monitor device decodes it.
        Edid edid;
        benchmark::DoNotOptimize(edid.initialise(g_edid.data(), static_cast<int>(g_edid.size())));
    }
}

std::vector<char> InventoryReport()
{
    const char text[] = "1.074820" "5GB" "ZK42017";
    std::vector<char> report(48, 0);
    memcpy(report.data(), text, 18);
    report[18] = 0x10;
    report[19] = 0xBB;
    report[20] = 0x43;
    report[26] = 80;
    report[28] = 0x0C;
    return report;
}

void InventoryDecode(benchmark::State& state)
{
    std::vector<char> report = InventoryReport();
    Inventory inventory;
    DeviceData deviceData;
    LogBytes bytes(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(inventory.initialise(report.data(), 48, 0x04B3, 0x4676));
        deviceData.setData(inventory, 0x4676);
    }
}

void OsdDecode(benchmark::State& state)
{
    std::vector<unsigned char> report(48, 0);
    report[15] = 11;
    Osd osd;
    LogBytes bytes(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(osd.initialise(report.data(), 48));
    }
}

void LogLine(benchmark::State& state)
{
    LogBytes bytes(state);
    int i = 0;
    for (auto _ : state) {
        Log(LEVEL_DEBUG, "Display Descriptor #%d", i++ & 3);
    }
}

int RunLevel(int level, int argc, char** argv)
{
    std::string error;
    if (!sandbox::Enter(&error)) {
        fprintf(stderr, "bench_decoders: cannot enter the private mount namespace: %s\n",
                error.c_str());
        return 1;
    }
    std::string conf = "FileName=" + std::string(kLogFile) + "\nLevel=" + std::to_string(level) +
                       "\nMaxLength=4294967295\n";
    if (!sandbox::WriteFile("/etc/pnlmon/log.conf", conf)) {
        fprintf(stderr, "bench_decoders: cannot write /etc/pnlmon/log.conf\n");
        return 1;
    }
    std::ifstream in(PNLMON_SAMPLE_EDID, std::ios::binary);
    g_edid.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (g_edid.size() < 128) {
        fprintf(stderr, "bench_decoders: cannot read %s\n", PNLMON_SAMPLE_EDID);
        return 1;
    }
    // Create the logger (it announces itself on standard output) before the
    // benchmark table starts.
    Logger::GetInstance();
    if (Logger::GetInstance().GetHandler().GetLevel() != level) {
        fprintf(stderr, "bench_decoders: log level not applied\n");
        return 1;
    }

    std::string suffix = "/log_level:" + std::to_string(level);
    benchmark::RegisterBenchmark(("EdidDecode" + suffix).c_str(), EdidDecode);
    benchmark::RegisterBenchmark(("InventoryDecode+DeviceData" + suffix).c_str(), InventoryDecode);
    benchmark::RegisterBenchmark(("OsdDecode" + suffix).c_str(), OsdDecode);
    benchmark::RegisterBenchmark(("LogLine" + suffix).c_str(), LogLine);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Take --level=N out of the arguments; the rest go to the benchmark library.
    int level = -1;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "--level=", 8) == 0) {
            level = atoi(argv[i] + 8);
            if (level < 0 || level > 4) {
                fprintf(stderr, "bench_decoders: --level must be 0 to 4\n");
                return 64;
            }
        } else {
            rest.push_back(argv[i]);
        }
    }
    rest.push_back(nullptr);
    int restCount = static_cast<int>(rest.size()) - 1;
    if (level >= 0) {
        return RunLevel(level, restCount, rest.data());
    }

    // Both levels, each in a process of its own.
    int status = 0;
    for (int each : {0, 4}) {
        fflush(stdout);
        pid_t child = fork();
        if (child < 0) {
            perror("fork");
            return 1;
        }
        if (child == 0) {
            _exit(RunLevel(each, restCount, rest.data()));
        }
        int childStatus = 0;
        waitpid(child, &childStatus, 0);
        if (!WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0) {
            status = 1;
        }
    }
    return status;
}
