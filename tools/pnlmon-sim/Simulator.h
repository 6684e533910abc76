// pnlmon-sim's work: owns the emulated bus, runs the program under test as a
// child, applies the scenario's timeline and the plug/unplug commands that
// arrive on the control FIFO or standard input, and ends with the child.
#ifndef PNLMON_SIM_SIMULATOR_H
#define PNLMON_SIM_SIMULATOR_H

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Scenario.h"
#include "SideProcesses.h"

struct SimOptions {
    std::string scenarioPath;
    std::string controlPath;       // --control FIFO
    bool stdinControl = false;     // --stdin-control
    bool quiet = false;            // -q: no progress lines
    std::vector<std::string> command;
};

class Simulator {
public:
    Simulator(const Scenario& scenario, const SimOptions& options);

    // Call with SIGINT, SIGTERM and SIGCHLD blocked and TMPDIR pointing at a
    // short private folder. Returns the child's exit code (128 + signal when
    // a signal ended it), or 2 when the simulation could not start.
    int run(const std::string& childTmpdir);

    // One control line: "plug NAME", "unplug NAME", "hold NAME SECONDS
    // [AS]", "release NAME", "run PROGRAM [ARGS...]" (split at blanks, no
    // quoting) or "state [NAME]". False with a message for anything else.
    bool command(const std::string& line, std::string& error);

private:
    void say(const std::string& text);
    bool plug(const std::string& name, std::string& error);
    bool unplug(const std::string& name, std::string& error);
    bool hold(const std::string& name, double seconds, const std::string& as, std::string& error);
    bool run(const std::vector<std::string>& command, std::string& error);
    bool state(const std::string& name, std::string& error);
    bool apply(const TimelineEvent& event, std::string& error);
    void readControl(int fd, std::string& pending, bool& open);
    int loop();
    bool openControl(std::string& error);

    const Scenario& scenario;
    SimOptions options;
    ChildProcess child;
    SideProcesses side;
    int controlFd = -1;
    bool createdFifo = false;
};

#endif
