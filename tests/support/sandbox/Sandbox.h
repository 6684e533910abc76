// Private mount namespace for tests: the fixed system folders
// "/etc/pnlmon" and "/var/log/pnlmon" exist, empty and private to this
// process and its children, on overlays whose upper layers live in a tmpfs,
// so nothing is ever created on the machine. Where the machine has them
// (our package installed), what is there stays hidden: never read, never
// written.
#ifndef PNLMON_TEST_SANDBOX_H
#define PNLMON_TEST_SANDBOX_H

#include <functional>
#include <string>

namespace sandbox {

// Enters the private namespace. Call it while the process has one thread
// (first thing in main): the namespace belongs to the calling thread and to
// everything started after it. Returns false with a reason on failure.
// With ownPids the process also moves into a new PID namespace with its own
// /proc: it forks, the parent waits and exits with the child's status, and
// the child (PID 1 there) returns from Enter. Processes that tests start are
// then invisible to every other test binary.
bool Enter(std::string* error, bool ownPids = false);

// True once Enter succeeded in this process or a parent.
bool Entered();

// A private scratch folder on the same tmpfs (created by Enter).
std::string ScratchDir();

// Empties "/etc/pnlmon" and "/var/log/pnlmon".
void ResetSystemFolders();

bool WriteFile(const std::string& path, const std::string& content);
bool ReadFile(const std::string& path, std::string& content);
bool Exists(const std::string& path);

struct ChildResult {
    int exitCode = -1;       // exit status, or -1 when the child did not exit normally
    int signal = 0;          // the signal that ended it, if any
    std::string out;         // what it wrote to standard output
    std::string err;         // what it wrote to standard error
};

// Runs body in a forked child with its standard output and error captured;
// the child exits with the body's result. Singletons created in the child
// (the logger, the driver configuration) die with it, so each call sees the
// configuration files as they are at that moment.
ChildResult RunInChild(const std::function<int()>& body);

// Like RunInChild, but the child also gets its own PID namespace with a
// private /proc, so processes it starts are invisible to other tests.
ChildResult RunInPidNamespace(const std::function<int()>& body);

}  // namespace sandbox

// Defined by the sandbox library: enters the namespace, then runs the tests.
// Test binaries that need it link pnlmon_test_sandbox_main.

#endif
