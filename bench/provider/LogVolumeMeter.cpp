// How many bytes of log one request and one announced change write, at each
// level (0 to 4), on a terminal with two monitors: the figures behind the
// level the packaged log.conf recommends (docs/ADMIN.md).
//
// For each level the provider is loaded afresh (each library reads log.conf
// when it first logs), two emulated monitors are attached, and both
// lifecycle classes are subscribed with "AnnounceChanges=immediate". Then:
//   ei      one enumerate-instances request (median of kRequests)
//   change  one monitor pulled or plugged again, up to its indication
//           and the announcer being quiet (median of kChanges)
// The growth of /var/log/pnlmon/pnlmon.log (both libraries write there) is
// what counts. Prints a table, and the days a 10 MiB MaxLength lasts at a
// request every 5 minutes (changes left out: a terminal sees few).
//
//   bench_log_volume [--requests=N] [--changes=N] [--show-log]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchSandbox.h"
#include "CimHost.h"
#include "EmulatedBus.h"
#include "Sandbox.h"

namespace {

const char kLog[] = "/var/log/pnlmon/pnlmon.log";
const double kMaxLength = 10485760.0;
const double kRequestsPerDay = 24 * 60 / 5;
// Longer than the announcer's settle delay and the indication thread's end.
const auto kQuiet = std::chrono::milliseconds(800);

long long LogSize()
{
    struct stat status;
    return stat(kLog, &status) == 0 ? static_cast<long long>(status.st_size) : 0;
}

usbemu::MonitorSpec Monitor(const std::string& name, int serial, uint16_t pid)
{
    usbemu::InventoryFields fields;
    fields.serialNumber = std::to_string(serial);
    usbemu::MonitorSpec spec;
    spec.name = name;
    spec.pid = pid;
    spec.inventory = fields.bytes();
    return spec;
}

double Median(std::vector<long long> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[values.size() / 2]);
}

struct Volume {
    double perRequest = 0;
    double perChange = 0;
    bool ok = true;
};

Volume Measure(int level, int requests, int changes, bool showLog)
{
    Volume volume;
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    bus.unplugAll();
    unlink(kLog);
    sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=" + std::to_string(level) + "\n");
    bus.plug(Monitor("left", 9100001, 0x4676));
    bus.plug(Monitor("right", 9100002, 0x4678));
    cimhost::CimHost host;
    std::string error;
    if (!host.load(PNLMON_PROVIDER_PATH, &error) || !host.restartWithSubscriptions().ok()) {
        std::fprintf(stderr, "level %d: cannot load and subscribe: %s\n", level, error.c_str());
        volume.ok = false;
        return volume;
    }
    host.enumerateInstances("root/cimv2", "QAV_Display");  // warm-up
    std::this_thread::sleep_for(kQuiet);
    std::vector<long long> perRequest;
    for (int i = 0; i < requests; ++i) {
        long long before = LogSize();
        auto result = host.enumerateInstances("root/cimv2", "QAV_Display");
        volume.ok = volume.ok && result.ok() && result.instances.size() == 2;
        perRequest.push_back(LogSize() - before);
        if (showLog && i == requests - 1) {
            std::string text;
            sandbox::ReadFile(kLog, text);
            std::fprintf(stderr, "--- level %d, one ei:\n%s", level, text.substr(static_cast<size_t>(before)).c_str());
        }
    }
    std::vector<long long> perChange;
    for (int i = 0; i < changes; ++i) {
        long long before = LogSize();
        if (i % 2 == 0) {
            bus.unplug("right");
        } else {
            bus.plug(Monitor("right", 9100002, 0x4678));
        }
        volume.ok = volume.ok && host.waitForIndications(static_cast<size_t>(i + 1), std::chrono::seconds(10));
        std::this_thread::sleep_for(kQuiet);
        perChange.push_back(LogSize() - before);
    }
    volume.ok = volume.ok && host.indications().size() == static_cast<size_t>(changes);
    host.unload();
    bus.unplugAll();
    volume.perRequest = Median(perRequest);
    volume.perChange = Median(perChange);
    return volume;
}

int Option(int argc, char** argv, const char* name, int fallback)
{
    size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=') {
            return std::max(0, std::atoi(argv[i] + length + 1));
        }
    }
    return fallback;
}

}  // namespace

// Runs this program again for one level: each library reads log.conf once
// per process, and a library kept mapped after its unload keeps its logger
// closed, so every level gets a process of its own.
int RunLevel(char** argv, int level, int requests, int changes, bool showLog)
{
    pid_t child = fork();
    if (child < 0) {
        return 1;
    }
    if (child == 0) {
        std::string levelArg = "--level=" + std::to_string(level);
        std::string requestsArg = "--requests=" + std::to_string(requests);
        std::string changesArg = "--changes=" + std::to_string(changes);
        std::vector<char*> args{argv[0], &levelArg[0], &requestsArg[0], &changesArg[0]};
        if (showLog) {
            args.push_back(const_cast<char*>("--show-log"));
        }
        args.push_back(nullptr);
        execv("/proc/self/exe", args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int main(int argc, char** argv)
{
    const int requests = std::max(1, Option(argc, argv, "--requests", 9));
    const int changes = std::max(1, Option(argc, argv, "--changes", 6));
    const int level = std::min(4, Option(argc, argv, "--level", -1));
    // The lines of the last measured request, on standard error.
    bool showLog = false;
    for (int i = 1; i < argc; ++i) {
        showLog = showLog || std::strcmp(argv[i], "--show-log") == 0;
    }
    if (level < 0) {
        std::printf("Log bytes, two monitors attached, AnnounceChanges=immediate (medians of %d requests, %d "
                    "changes)\n",
                    requests, changes);
        std::printf("%-6s %12s %14s %22s\n", "Level", "bytes/ei", "bytes/change", "days to 10 MiB (5 min)");
        std::fflush(stdout);
        int failures = 0;
        for (int l = 0; l <= 4; ++l) {
            failures += RunLevel(argv, l, requests, changes, showLog) == 0 ? 0 : 1;
        }
        return failures == 0 ? 0 : 1;
    }

    if (!BenchSandbox::Enter(argc, argv)) {
        return 1;
    }
    sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "AnnounceChanges=immediate\n");
    usbemu::EmulatedBus::instance();
    // The libraries' own prints go to standard error, the table alone to
    // standard output.
    int table = dup(1);
    dup2(2, 1);
    FILE* out = fdopen(table, "w");
    Volume volume = Measure(level, requests, changes, showLog);
    double perDay = volume.perRequest * kRequestsPerDay;
    char days[32];
    if (perDay <= 0) {
        std::snprintf(days, sizeof(days), "never");
    } else {
        std::snprintf(days, sizeof(days), "%.1f", kMaxLength / perDay);
    }
    std::fprintf(out, "%-6d %12.0f %14.0f %22s%s\n", level, volume.perRequest, volume.perChange, days,
                 volume.ok ? "" : "  (requests or indications failed)");
    std::fclose(out);
    return volume.ok ? 0 : 1;
}
