// Processes with a chosen program name, as the flash-utility scan sees them.
// The kernel fills in /proc/PID/cmdline of a new program a moment after the
// exec has begun (after the descriptors closed on exec are gone), so a scan
// made as soon as the exec is known may read an empty command line. Start
// returns only once the command line shows the expected first argument.
#ifndef PNLMON_TEST_NAMEDPROCESS_H
#define PNLMON_TEST_NAMEDPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class NamedProcess {
public:
    // Starts `program` with argv[0] set to `argv0` plus the further
    // arguments, and returns its PID once /proc/PID/cmdline begins with
    // `shown` (argv0 when null; a script's interpreter replaces argv[0] with
    // its own path). -1 when the exec failed or the name did not show within
    // a generous bound (the process is then stopped).
    static pid_t Start(const std::string& program, const std::string& argv0,
                       const std::vector<std::string>& args, const std::string* shown = nullptr);

    // Waits until /proc/PID/cmdline is set and its first argument is `first`.
    static bool WaitUntilShown(pid_t pid, const std::string& first, std::chrono::milliseconds limit);

    // Kills and reaps the process; nothing for pid <= 0.
    static void Stop(pid_t pid);
};

#endif
