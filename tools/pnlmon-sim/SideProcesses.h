// The programs pnlmon-sim runs beside the main command while it runs: the
// commands of "run" entries and lines, and the pnlmon-sim-hold processes
// that hold a monitor's interface for a "hold". They are started after the
// testbed's threads exist, so between fork and exec the child only makes
// system calls; they die with pnlmon-sim (PR_SET_PDEATHSIG) and are stopped
// when the main command ends.
#ifndef PNLMON_SIM_SIDEPROCESSES_H
#define PNLMON_SIM_SIDEPROCESSES_H

#include <sys/types.h>

#include <string>
#include <vector>

class SideProcesses {
public:
    // The TMPDIR the programs get (empty: none).
    void setChildTmpdir(const std::string& tmpdir) { childTmpdir = tmpdir; }

    // Starts COMMAND (searched in PATH) with standard input from /dev/null.
    // Returns its pid, or -1 with a message.
    pid_t run(const std::vector<std::string>& command, std::string& error);

    // Starts pnlmon-sim-hold on interface 0 of the monitor at this address
    // of bus 1 and waits (at most 5 s) until it holds it. comm: the name it
    // shows in /proc (empty: its own). Returns its pid, or -1 with a message
    // (what the holder said, e.g. that the claim was refused).
    pid_t hold(const std::string& monitor, int address, double seconds, const std::string& comm,
               std::string& error);
    // Ends the holds of this monitor early (SIGTERM: the holder releases the
    // interface and binds the kernel driver again) and waits (at most 3 s)
    // until they are over. False when none runs.
    bool release(const std::string& monitor);

    struct Ended {
        std::string label;  // "run pnlmon-inventory (pid 12)", "hold of tilo (pid 13)"
        int status;         // exit code, or 128 + signal
    };
    // The programs that have ended since the last call.
    std::vector<Ended> reap();
    // SIGTERM to every one still running, SIGKILL after graceMs.
    void stopAll(int graceMs);

    // Where pnlmon-sim-hold is: $PNLMON_SIM_HOLD, the private folder of the
    // installation this program belongs to, or beside this program.
    static std::string HoldProgram();

private:
    struct Process {
        pid_t pid;
        std::string label;
        std::string monitor;  // for holds
    };
    pid_t start(const std::vector<std::string>& command, int outFd, std::string& error);

    std::string childTmpdir;
    std::vector<Process> running;
    std::vector<Ended> endedEarly;  // by release(), not reported yet
};

#endif
