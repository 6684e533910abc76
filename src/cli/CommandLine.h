// The command line of every pnlmon tool, over glibc's getopt_long: short
// and long options (also "--name=value" and unambiguous abbreviations),
// "--" ending the options, the standard --help, --version and -v/--verbose,
// and usage errors as one line plus a pointer to --help, exit status 64.
#ifndef PNLMON_COMMANDLINE_H
#define PNLMON_COMMANDLINE_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class CommandLine {
public:
    // Exit status of a usage error (sysexits' EX_USAGE).
    static constexpr int kUsageError = 64;
    // parse() returns this when the tool should go on.
    static constexpr int kContinue = -1;

    enum Argument { kNone, kRequired, kOptional };

    struct Option {
        const char* longName;  // without "--"
        char shortName;        // 0 for none
        Argument argument;
        const char* argumentName;  // shown in the help, e.g. "SECONDS"
        const char* help;          // may hold "\n" for more lines
        int id;                    // handed to the handler; must be >= 256 or the short name
    };

    // Called for each option given; false with a message is a usage error.
    typedef std::function<bool(int id, const char* argument, std::string& error)> Handler;

    // Flags: options end at the first operand (for tools that run a command
    // given after their own arguments); no -v/--verbose (for tools that run
    // no driver code).
    static constexpr int kStopAtOperand = 1;
    static constexpr int kNoVerbose = 2;

    // synopsis: the usage lines after the program name, one per "\n";
    // description: the paragraph after them; footer: the closing text
    // (exit statuses).
    CommandLine(const char* program, const char* synopsis, const char* description,
                std::vector<Option> options, const char* footer, int flags = 0);

    // Adds a line to --version after the tool's own version line.
    void addVersionLine(const std::string& line) { versionLines.push_back(line); }

    // Parses argv. Returns kContinue when the tool should go on, otherwise
    // the exit status: 0 after --help or --version (printed to out), 64 after
    // a usage error (one line plus a pointer to --help on err).
    int parse(int argc, char** argv, const Handler& handler, FILE* out = stdout, FILE* err = stderr);

    // The operands (arguments that are not options), in order.
    const std::vector<std::string>& operands() const { return operandList; }
    // -v counts up, -v N / --verbose=N sets; 0 (the default) to 4.
    int verbosity() const { return verbose; }

    std::string helpText() const;
    std::string versionText() const;

    // Prints "PROGRAM: message" and the pointer to --help; returns 64.
    int usageError(const std::string& message, FILE* err = stderr) const;

    // Strict number readers for option arguments: decimal digits only (no
    // sign, no blanks), within [min, max].
    static bool ParseLong(const char* text, long min, long max, long& value);
    // Positive decimal seconds such as "2" or "0.5", at most max.
    static bool ParseSeconds(const char* text, double max, double& value);

private:
    std::string program;
    std::string synopsis;
    std::string description;
    std::vector<Option> options;
    std::string footer;
    bool stopAtOperand;
    std::vector<std::string> versionLines;
    std::vector<std::string> operandList;
    int verbose;
};

#endif
