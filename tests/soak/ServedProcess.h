// The provider in a process of its own: runs a body in a forked child that
// loads the provider into the embedded CIMOM host. The child has fresh
// logger and driver configuration singletons (they read their files once),
// so each configuration gets one; and its memory holds the host, provider
// and driver without the emulated bus, which stays in the parent. The body records
// failed checks; the child's exit code is their number, and each one is
// printed on standard error as a "CHECK: " line for the parent to show.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "CimHost.h"

class ServedProcess {
public:
    struct Outcome {
        int failures = -1;        // -1: the child did not exit normally
        int signal = 0;
        std::string checks;       // the "CHECK: " lines
        std::string out;          // the child's standard output
    };

    // Inside the child.
    void expect(bool ok, const std::string& what);
    int failures() const { return failures_; }
    cimhost::CimHost& host() { return *host_; }
    // ein, ei and gi of every monitor in `ids` (and of one absent one):
    // statuses, counts and keys as the bus says.
    void expectServes(const std::vector<std::string>& ids, const std::string& when);

    // False in ThreadSanitizer builds: TSan cannot start threads in the
    // child of a process that already runs threads (the emulated bus does),
    // so these one-process-per-configuration tests are skipped there.
    static bool ForkSupported();

    // Forks, runs body with a loaded host, unloads it, and reports.
    static Outcome Run(const std::function<void(ServedProcess&)>& body);
    // The same in this process, for builds without ForkSupported(): failed
    // checks are still counted and printed, output is not captured.
    static Outcome RunHere(const std::function<void(ServedProcess&)>& body);

private:
    static int Serve(const std::function<void(ServedProcess&)>& body);

    cimhost::CimHost* host_ = nullptr;
    int failures_ = 0;
};
