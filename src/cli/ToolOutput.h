// Standard output of a tool that runs library code: the libraries write
// lines of their own to descriptor 1 ("Logger created", the enumeration's
// progress lines), which are not the tool's results. ToolOutput keeps a
// duplicate of the real standard output for the results and points
// descriptor 1 elsewhere: at /dev/null, or at standard error for a verbose
// run. Other callers of the libraries keep seeing those lines.
#ifndef PNLMON_TOOLOUTPUT_H
#define PNLMON_TOOLOUTPUT_H

#include <cstdio>
#include <string>

class ToolOutput {
public:
    ToolOutput() = default;
    ~ToolOutput();
    ToolOutput(const ToolOutput&) = delete;
    ToolOutput& operator=(const ToolOutput&) = delete;

    // Sets the streams up; false with a reason when a descriptor could not
    // be duplicated or /dev/null opened.
    bool divert(bool libraryLinesToStderr, std::string& error);

    // Where results go: the real standard output (stdout until divert).
    FILE* out() const { return results != nullptr ? results : stdout; }

    // Flushes and closes the results stream; false when writing failed
    // (a full disk, a closed pipe).
    bool finish();

private:
    FILE* results = nullptr;
};

#endif
