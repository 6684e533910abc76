// Helpers shared by the driver's tests: reading the log lines the driver
// writes, capturing what it prints on standard output, and starting
// processes with a chosen program name.
#ifndef PNLMON_TEST_DISPLAY_SUPPORT_H
#define PNLMON_TEST_DISPLAY_SUPPORT_H

#include <string>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// Writes "/etc/pnlmon/log.conf" so that every line up to TRACE goes to
// `file` (or to standard error with console). Must run before the first log
// call of the process.
void RouteLog(const std::string& file, bool console = false);

// The log file's content from byte offset `from` on.
std::string ReadFrom(const std::string& file, size_t from = 0);
size_t FileSize(const std::string& file);

// Counts the lines of `text` that end with `message` (the message field of a
// log line, with or without the CR LF).
int CountMessage(const std::string& text, const std::string& message);
// The message fields of the log lines in `text`, in order.
std::vector<std::string> Messages(const std::string& text);

// Points standard output at a file until Stop, which returns what was written.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string Stop();

private:
    int saved;
    std::string path;
};

// Starts `program` with argv[0] set to `argv0` plus the further arguments
// and returns once /proc shows the new program's command line, beginning
// with `shown` (argv0 when null): NamedProcess::Start. -1 on failure.
pid_t StartAs(const std::string& program, const std::string& argv0, const std::vector<std::string>& args,
              const std::string* shown = nullptr);
void StopProcess(pid_t pid);

}  // namespace testsupport

#endif
