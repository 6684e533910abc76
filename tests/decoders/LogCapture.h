// Runs code in a child process whose log goes to standard error, and hands
// back the log lines it wrote.
#ifndef PNLMON_TEST_LOGCAPTURE_H
#define PNLMON_TEST_LOGCAPTURE_H

#include <functional>
#include <string>
#include <vector>

struct LogCapture {
    int exitCode = -1;
    // One entry per log line: the level text, a TAB and the message, e.g.
    // "Error\tEdid::validateProlog - invalid edid prolog".
    std::vector<std::string> lines;

    bool contains(const std::string& line) const;
    // The messages of the lines at one level ("Error", "Debug", ...).
    std::vector<std::string> messages(const std::string& level) const;
};

// body runs in a forked child (fresh logging singleton) with the log set to
// the console at LEVEL_TRACE; its result becomes exitCode.
LogCapture RunLogged(const std::function<int()>& body);

#endif
