#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>

#include "CommandLine.h"
#include "EmulatedBus.h"

namespace {

constexpr int kIdlePollMs = 250;   // how often vanished monitors are looked for
constexpr int kStopGraceMs = 3000;
constexpr std::size_t kMaxLine = 4096;

}  // namespace

Simulator::Simulator(const Scenario& scenario, const SimOptions& options) : scenario(scenario), options(options)
{
}

void Simulator::say(const std::string& text)
{
    if (!options.quiet) {
        fprintf(stderr, "pnlmon-sim: %s\n", text.c_str());
    }
}

bool Simulator::plug(const std::string& name, std::string& error)
{
    const ScenarioMonitor* monitor = scenario.find(name);
    if (monitor == nullptr) {
        error = "no monitor named \"" + name + "\" in the scenario";
        return false;
    }
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    try {
        bus.plug(monitor->spec);
        if (monitor->fault) {
            bus.setFault(name, *monitor->fault);
        }
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    char ids[64];
    snprintf(ids, sizeof ids, " (%04x:%04x) at address %d", monitor->spec.vid, monitor->spec.pid, bus.address(name));
    say("plugged " + name + ids);
    return true;
}

bool Simulator::unplug(const std::string& name, std::string& error)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    if (!bus.isPlugged(name)) {
        error = "\"" + name + "\" is not plugged";
        return false;
    }
    bus.unplug(name);
    say("unplugged " + name);
    return true;
}

bool Simulator::hold(const std::string& name, double seconds, const std::string& as, std::string& error)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    int address = bus.address(name);
    if (address < 0) {
        error = "\"" + name + "\" is not plugged";
        return false;
    }
    pid_t pid = side.hold(name, address, seconds, as, error);
    if (pid < 0) {
        return false;
    }
    char duration[32];
    snprintf(duration, sizeof duration, "%g", seconds);
    say((as.empty() ? std::string("pnlmon-sim-hold") : as) + " (pid " + std::to_string(pid) + ") holds " + name +
        " for " + duration + "s");
    return true;
}

bool Simulator::state(const std::string& name, std::string& error)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    std::vector<std::string> names = bus.pluggedNames();
    if (!name.empty()) {
        if (!bus.isPlugged(name)) {
            error = "\"" + name + "\" is not plugged";
            return false;
        }
        names = {name};
    }
    for (const std::string& monitor : names) {
        std::string holder = bus.interfaceHolder(monitor);
        // Always printed: it was asked for.
        fprintf(stderr, "pnlmon-sim: state %s: interface 0 %s, open files %d\n", monitor.c_str(),
                holder.empty() ? "free" : holder.c_str(), bus.openFiles(monitor));
    }
    return true;
}

bool Simulator::run(const std::vector<std::string>& command, std::string& error)
{
    pid_t pid = side.run(command, error);
    if (pid < 0) {
        return false;
    }
    say("running " + command[0] + " (pid " + std::to_string(pid) + ")");
    return true;
}

bool Simulator::apply(const TimelineEvent& event, std::string& error)
{
    switch (event.kind) {
    case TimelineEvent::Plug:
        return plug(event.name, error);
    case TimelineEvent::Unplug:
        return unplug(event.name, error);
    case TimelineEvent::Hold:
        return hold(event.name, event.seconds, event.as, error);
    default:
        return run(event.command, error);
    }
}

bool Simulator::command(const std::string& line, std::string& error)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    if (words.empty()) {
        return true;  // blank line
    }
    const std::string& verb = words[0];
    if (verb == "state" && words.size() <= 2) {
        return state(words.size() == 2 ? words[1] : std::string(), error);
    }
    if (verb == "run" && words.size() >= 2) {
        return run(std::vector<std::string>(words.begin() + 1, words.end()), error);
    }
    if ((verb == "plug" || verb == "unplug" || verb == "release") && words.size() == 2) {
        if (verb == "release") {
            if (!side.release(words[1])) {
                error = "nothing holds \"" + words[1] + "\"";
                return false;
            }
            return true;
        }
        return verb == "plug" ? plug(words[1], error) : unplug(words[1], error);
    }
    if (verb == "hold" && (words.size() == 3 || words.size() == 4)) {
        double seconds = 0;
        if (!CommandLine::ParseSeconds(words[2].c_str(), 86400, seconds)) {
            error = "hold: \"" + words[2] + "\" is not a number of seconds (more than 0, at most 86400)";
            return false;
        }
        std::string as = words.size() == 4 ? words[3] : std::string();
        std::string problem = as.empty() ? std::string() : Scenario::CheckProcessName(as);
        if (!problem.empty()) {
            error = "hold: " + problem;
            return false;
        }
        return hold(words[1], seconds, as, error);
    }
    error = "unknown command \"" + line +
            "\" (use: plug NAME, unplug NAME, hold NAME SECONDS [AS], release NAME, run PROGRAM [ARGS...], state [NAME])";
    return false;
}

bool Simulator::openControl(std::string& error)
{
    if (options.controlPath.empty()) {
        return true;
    }
    struct stat st;
    if (stat(options.controlPath.c_str(), &st) != 0) {
        if (mkfifo(options.controlPath.c_str(), 0600) != 0) {
            error = "cannot create " + options.controlPath + ": " + strerror(errno);
            return false;
        }
        createdFifo = true;
    } else if (!S_ISFIFO(st.st_mode)) {
        error = options.controlPath + " exists and is not a FIFO";
        return false;
    }
    // Opened for writing too, so that the FIFO never reports end of file
    // when a writer goes away.
    controlFd = open(options.controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (controlFd < 0) {
        error = "cannot open " + options.controlPath + ": " + strerror(errno);
        return false;
    }
    return true;
}

void Simulator::readControl(int fd, std::string& pending, bool& open)
{
    char buffer[1024];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0) {
            open = false;
        }
        if (got <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        if (fd == 0) {
            break;  // standard input may be blocking: one read per wake-up
        }
    }
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string error;
        if (!command(line, error)) {
            fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
        }
    }
    if (pending.size() > kMaxLine) {
        fprintf(stderr, "pnlmon-sim: control line longer than %zu bytes dropped\n", kMaxLine);
        pending.clear();
    }
}

int Simulator::loop()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGCHLD);
    int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        fprintf(stderr, "pnlmon-sim: signalfd: %s\n", strerror(errno));
        return child.stop(kStopGraceMs);
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<TimelineEvent>& timeline = scenario.timeline();
    std::size_t nextEvent = 0;
    std::string controlPending, stdinPending;
    bool controlOpen = controlFd >= 0;
    bool stdinOpen = options.stdinControl;
    int status = 0;
    for (;;) {
        if (child.reap(status)) {
            break;
        }
        double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        while (nextEvent < timeline.size() && timeline[nextEvent].at <= now) {
            const TimelineEvent& event = timeline[nextEvent++];
            std::string error;
            if (!apply(event, error)) {
                fprintf(stderr, "pnlmon-sim: timeline at %gs: %s\n", event.at, error.c_str());
            }
        }
        int timeout = kIdlePollMs;
        if (nextEvent < timeline.size()) {
            double wait = std::ceil((timeline[nextEvent].at - now) * 1000.0);
            timeout = std::max(0, std::min(timeout, static_cast<int>(wait)));
        }
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {signalFd, POLLIN, 0};
        int controlIndex = -1, stdinIndex = -1;
        if (controlOpen) {
            controlIndex = static_cast<int>(count);
            fds[count++] = {controlFd, POLLIN, 0};
        }
        if (stdinOpen) {
            stdinIndex = static_cast<int>(count);
            fds[count++] = {0, POLLIN, 0};
        }
        int ready = poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) {
            fprintf(stderr, "pnlmon-sim: poll: %s\n", strerror(errno));
            status = child.stop(kStopGraceMs);
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            bool stopRequested = false;
            while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM) {
                    say(std::string("stopping on ") + strsignal(static_cast<int>(info.ssi_signo)));
                    stopRequested = true;
                }
            }
            if (stopRequested) {
                status = child.stop(kStopGraceMs);
                break;
            }
        }
        if (controlIndex >= 0 && fds[controlIndex].revents != 0) {
            readControl(controlFd, controlPending, controlOpen);
        }
        if (stdinIndex >= 0 && fds[stdinIndex].revents != 0) {
            readControl(0, stdinPending, stdinOpen);
            if ((fds[stdinIndex].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
                (fds[stdinIndex].revents & POLLIN) == 0) {
                stdinOpen = false;
            }
        }
        for (const std::string& name : usbemu::EmulatedBus::instance().collectVanished()) {
            say(name + " vanished");
        }
        for (const SideProcesses::Ended& ended : side.reap()) {
            say(ended.label + " ended with status " + std::to_string(ended.status));
        }
    }
    // The main command has ended: so do the programs beside it.
    side.stopAll(kStopGraceMs);
    close(signalFd);
    return status;
}

int Simulator::run(const std::string& childTmpdir)
{
    std::string error;
    if (!openControl(error)) {
        fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
        return 2;
    }
    side.setChildTmpdir(childTmpdir);
    // Fork while this process has one thread: the testbed's threads come next.
    if (!child.fork(options.command, options.stdinControl, childTmpdir, error)) {
        fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
        return 2;
    }
    int status = 2;
    try {
        usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
        bool ok = true;
        for (const ScenarioMonitor& monitor : scenario.monitors()) {
            if (monitor.present && !plug(monitor.spec.name, error)) {
                fprintf(stderr, "pnlmon-sim: %s\n", error.c_str());
                ok = false;
                break;
            }
        }
        if (ok && child.release(bus.rootDir())) {
            say("running " + options.command[0] + " (pid " + std::to_string(child.pid()) + ")");
            status = loop();
        } else {
            child.stop(kStopGraceMs);
        }
        bus.shutdown();
    } catch (const std::exception& e) {
        fprintf(stderr, "pnlmon-sim: %s\n", e.what());
        child.stop(kStopGraceMs);
    }
    if (controlFd >= 0) {
        close(controlFd);
    }
    if (createdFifo) {
        unlink(options.controlPath.c_str());
    }
    return status;
}
