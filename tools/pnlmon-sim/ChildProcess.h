// The program under test, started as a child process. It is forked early,
// while this process still has a single thread, and waits until the testbed
// exists; then it receives the testbed's folder and runs the program.
#ifndef PNLMON_SIM_CHILDPROCESS_H
#define PNLMON_SIM_CHILDPROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
public:
    // Forks the waiting child. The child dies with this process
    // (PR_SET_PDEATHSIG). With detachStdin its standard input is /dev/null.
    // keepTmpdir is the TMPDIR the program gets (empty: none).
    bool fork(const std::vector<std::string>& command, bool detachStdin, const std::string& keepTmpdir,
              std::string& error);
    // Lets the child run the program in the testbed of umockdevDir.
    bool release(const std::string& umockdevDir);
    // Tells a child that was not released to exit without running anything.
    void cancel();

    pid_t pid() const { return child; }
    // Non-blocking: true once the child has ended; status is its exit code,
    // or 128 + the signal that ended it.
    bool reap(int& status);
    // SIGTERM, then SIGKILL after graceMs; returns the exit code as reap does.
    int stop(int graceMs);

private:
    pid_t child = -1;
    int go = -1;  // write end of the pipe the child waits on
};

#endif
