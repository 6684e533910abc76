// pnlmon-sim: runs a program against emulated monitors.
//
//   pnlmon-sim [options] SCENARIO.json -- COMMAND [ARGS...]
//
// The monitors of the scenario are plugged into an emulated USB bus (umockdev)
// that this process owns; COMMAND runs as its child and finds them through
// the real libusb. Plugs and unplugs follow the scenario's timeline and the
// "plug NAME" / "unplug NAME" lines sent to the control FIFO or, with
// --stdin-control, to standard input. pnlmon-sim exits with COMMAND's status.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CommandLine.h"
#include "EmulatedBus.h"
#include "Scenario.h"
#include "Simulator.h"

namespace {

// Socket paths in the testbed must stay below 108 bytes.
constexpr std::size_t kMaxTmpBase = 40;

void RemoveTree(const std::string& path)
{
    DIR* dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (struct dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            std::string child = path + "/" + entry->d_name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                RemoveTree(child);
            } else {
                unlink(child.c_str());
            }
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

int Check(const Scenario& scenario)
{
    for (const ScenarioMonitor& monitor : scenario.monitors()) {
        const usbemu::MonitorSpec& spec = monitor.spec;
        printf("monitor %s %04x:%04x interfaces=%u endpoints=%u endpoint=0x%02x edid=%zu%s%s%s\n",
               spec.name.c_str(), spec.vid, spec.pid, spec.numInterfaces, spec.numEndpoints, spec.endpoint,
               spec.edid.empty() ? static_cast<std::size_t>(128) : spec.edid.size(),
               monitor.present ? "" : " absent", spec.kernelDriverBound ? " driver-bound" : "",
               monitor.fault ? (std::string(" fault=") + usbemu::FaultKindName(monitor.fault->kind)).c_str() : "");
    }
    for (const TimelineEvent& event : scenario.timeline()) {
        switch (event.kind) {
        case TimelineEvent::Plug:
        case TimelineEvent::Unplug:
            printf("at %gs %s %s\n", event.at, event.kind == TimelineEvent::Plug ? "plug" : "unplug",
                   event.name.c_str());
            break;
        case TimelineEvent::Hold:
            printf("at %gs hold %s for %gs%s%s\n", event.at, event.name.c_str(), event.seconds,
                   event.as.empty() ? "" : " as ", event.as.c_str());
            break;
        case TimelineEvent::Run: {
            std::string command;
            for (const std::string& word : event.command) {
                command += (command.empty() ? "" : " ") + word;
            }
            printf("at %gs run %s\n", event.at, command.c_str());
            break;
        }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kControl = 0x100, kStdinControl, kQuiet = 'q', kCheck };
    SimOptions options;
    bool check = false;
    CommandLine commandLine(
        "pnlmon-sim", "[--control=FIFO] [--stdin-control] [-q] SCENARIO.json -- COMMAND [ARGS...]\n--check SCENARIO.json",
        "Runs COMMAND against the emulated monitors of SCENARIO.json, plugging and\n"
        "unplugging them as its timeline and the control lines say.",
        {
            {"control", 0, CommandLine::kRequired, "FIFO",
             "read \"plug NAME\" / \"unplug NAME\" lines from FIFO (created\nif missing)", kControl},
            {"stdin-control", 0, CommandLine::kNone, nullptr,
             "read the same lines from standard input (COMMAND gets\n/dev/null)", kStdinControl},
            {"quiet", 'q', CommandLine::kNone, nullptr, "no progress lines on standard error", kQuiet},
            {"check", 0, CommandLine::kNone, nullptr, "only read the scenario and list its monitors and timeline",
             kCheck},
        },
        "Exit status: COMMAND's (128 + the signal that ended it), 2 when the scenario\n"
        "is bad or the testbed cannot be set up, 64 usage error.\n",
        CommandLine::kStopAtOperand | CommandLine::kNoVerbose);
    int status = commandLine.parse(argc, argv, [&](int id, const char* value, std::string&) {
        switch (id) {
        case kControl: options.controlPath = value; return true;
        case kStdinControl: options.stdinControl = true; return true;
        case kQuiet: options.quiet = true; return true;
        case kCheck: check = true; return true;
        default: return false;
        }
    });
    if (status != CommandLine::kContinue) {
        return status;
    }
    std::vector<std::string> operands = commandLine.operands();
    if (operands.empty()) {
        return commandLine.usageError("no scenario given");
    }
    options.scenarioPath = operands[0];
    size_t first = 1;
    if (first < operands.size() && operands[first] == "--") {
        ++first;
    } else if (first < operands.size()) {
        return commandLine.usageError("put '--' between the scenario and the command");
    }
    options.command.assign(operands.begin() + static_cast<long>(first), operands.end());
    if (check && !options.command.empty()) {
        return commandLine.usageError("--check takes no command");
    }
    if (!check && options.command.empty()) {
        return commandLine.usageError("no command given");
    }

    Scenario scenario;
    std::string error;
    if (check) {
        if (!scenario.load(options.scenarioPath, error)) {
            fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
            return 2;
        }
        return Check(scenario);
    }

    // The testbed owner must run under the umockdev preload itself; the
    // child inherits it (with the nlfix shim first).
    usbemu::EnsurePreload(argc, argv);
    if (!scenario.load(options.scenarioPath, error)) {
        fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
        return 2;
    }

    // Signals arrive through a signalfd; blocked before any thread exists so
    // that the testbed's threads never take them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGCHLD);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    const char* tmp = getenv("TMPDIR");
    std::string childTmpdir = tmp != nullptr ? tmp : "";
    std::string base = tmp != nullptr && *tmp != '\0' && strlen(tmp) <= kMaxTmpBase ? tmp : "/tmp";
    std::string private_ = base + "/pnlsim.XXXXXX";
    if (mkdtemp(&private_[0]) == nullptr) {
        fprintf(stderr, "pnlmon-sim: cannot create a folder in %s: %s\n", base.c_str(), strerror(errno));
        return 2;
    }
    setenv("TMPDIR", private_.c_str(), 1);

    Simulator simulator(scenario, options);
    status = simulator.run(childTmpdir);
    RemoveTree(private_);
    return status;
}
