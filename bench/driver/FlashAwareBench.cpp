// FlashAware::isMonitorFlashProgramActive with 100 and 1000 sleeping
// processes, inside a private PID namespace (so the count is exact). No
// utility runs, so every check scans the whole process table once per
// configured name (five with the defaults).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FlashAware.h"
#include "Sandbox.h"

namespace {

std::vector<pid_t> g_sleepers;

void SetSleepers(size_t count)
{
    while (g_sleepers.size() > count) {
        pid_t pid = g_sleepers.back();
        g_sleepers.pop_back();
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    while (g_sleepers.size() < count) {
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sleep", "sleep", "3600", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) {
            break;
        }
        g_sleepers.push_back(pid);
    }
    usleep(200 * 1000);  // let the children reach exec
}

void BM_FlashCheck(benchmark::State& state)
{
    SetSleepers(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        bool active = FlashAware::isMonitorFlashProgramActive();
        benchmark::DoNotOptimize(active);
        if (active) {
            state.SkipWithError("a flash utility was found");
            break;
        }
    }
    state.counters["processes"] = static_cast<double>(g_sleepers.size());
}

BENCHMARK(BM_FlashCheck)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    if (!sandbox::Enter(&error, true)) {
        fprintf(stderr, "cannot enter the private namespace: %s\n", error.c_str());
        return 1;
    }
    sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=0\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    SetSleepers(0);
    return 0;
}
