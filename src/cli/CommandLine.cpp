#include "CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const int kHelpId = 0x10001;
const int kVersionId = 0x10002;
const int kVerboseId = 'v';
const int kMaxVerbosity = 4;

bool IsVerbosityWord(const char* text)
{
    return text != nullptr && text[0] >= '0' && text[0] <= '4' && text[1] == '\0';
}

}  // namespace

CommandLine::CommandLine(const char* program, const char* synopsis, const char* description,
                         std::vector<Option> options, const char* footer, int flags)
    : program(program),
      synopsis(synopsis),
      description(description),
      options(std::move(options)),
      footer(footer),
      stopAtOperand((flags & kStopAtOperand) != 0),
      verbose(0)
{
    if ((flags & kNoVerbose) == 0) {
        this->options.push_back({"verbose", 'v', kOptional, "N",
                             "the driver's log lines on standard error: each -v\n"
                             "one level more (1 errors, 2 information, 3 debug,\n"
                             "4 trace and the library's own lines), or -v N",
                                 kVerboseId});
    }
    this->options.push_back({"help", 0, kNone, nullptr, "show this help and exit", kHelpId});
    this->options.push_back({"version", 0, kNone, nullptr, "show the tool and library versions and exit",
                             kVersionId});
}

std::string CommandLine::helpText() const
{
    std::string text;
    size_t start = 0;
    bool first = true;
    while (start <= synopsis.size()) {
        size_t end = synopsis.find('\n', start);
        if (end == std::string::npos) {
            end = synopsis.size();
        }
        text += (first ? "Usage: " : "       ") + program + " " + synopsis.substr(start, end - start) + "\n";
        first = false;
        start = end + 1;
    }
    text += "\n" + description + "\n\nOptions:\n";
    for (const Option& option : options) {
        std::string left = "  ";
        left += option.shortName != 0 ? std::string("-") + option.shortName + ", " : std::string("    ");
        left += std::string("--") + option.longName;
        if (option.argument == kRequired) {
            left += std::string("=") + option.argumentName;
        } else if (option.argument == kOptional) {
            left += std::string("[=") + option.argumentName + "]";
        }
        const size_t column = 26;
        std::string help = option.help;
        size_t lineStart = 0;
        bool firstLine = true;
        while (lineStart <= help.size()) {
            size_t lineEnd = help.find('\n', lineStart);
            if (lineEnd == std::string::npos) {
                lineEnd = help.size();
            }
            std::string pad;
            if (firstLine) {
                pad = left.size() + 2 <= column ? left + std::string(column - left.size(), ' ')
                                                : left + "\n" + std::string(column, ' ');
            } else {
                pad = std::string(column, ' ');
            }
            text += pad + help.substr(lineStart, lineEnd - lineStart) + "\n";
            firstLine = false;
            lineStart = lineEnd + 1;
        }
    }
    if (!footer.empty()) {
        text += "\n" + footer;
        if (footer.back() != '\n') {
            text += "\n";
        }
    }
    return text;
}

std::string CommandLine::versionText() const
{
    std::string text = program + " " PNLMON_TOOL_VERSION " (built " __DATE__ " " __TIME__ ")\n";
    for (const std::string& line : versionLines) {
        text += line + "\n";
    }
    return text;
}

int CommandLine::usageError(const std::string& message, FILE* err) const
{
    fprintf(err, "%s: %s\nTry '%s --help' for more information.\n", program.c_str(), message.c_str(),
            program.c_str());
    return kUsageError;
}

int CommandLine::parse(int argc, char** argv, const Handler& handler, FILE* out, FILE* err)
{
    std::string shortOptions = stopAtOperand ? "+:" : ":";
    std::vector<struct option> longOptions;
    for (const Option& option : options) {
        int hasArg = option.argument == kNone ? no_argument
                     : option.argument == kRequired ? required_argument
                                                    : optional_argument;
        longOptions.push_back({option.longName, hasArg, nullptr, option.id});
        if (option.shortName != 0) {
            shortOptions += option.shortName;
            if (option.argument == kRequired) {
                shortOptions += ":";
            } else if (option.argument == kOptional) {
                shortOptions += "::";
            }
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    operandList.clear();
    verbose = 0;
    bool help = false;
    bool version = false;
    opterr = 0;
    optind = 0;  // a full restart of glibc's scanner
    for (;;) {
        int longIndex = -1;
        int c = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), &longIndex);
        if (c == -1) {
            break;
        }
        // A short option stands for its long form's id.
        for (const Option& option : options) {
            if (option.shortName != 0 && c == static_cast<unsigned char>(option.shortName)) {
                c = option.id;
                break;
            }
        }
        // The option as the user wrote it, for messages.
        std::string given = argv[optind - 1] != nullptr ? argv[optind - 1] : "";
        if (c == '?') {
            if (given.compare(0, 2, "--") != 0 && optopt > 0 && optopt < 256) {
                return usageError(std::string("unknown option '-") + static_cast<char>(optopt) + "'", err);
            }
            size_t eq = given.find('=');
            if (eq != std::string::npos && optopt != 0) {
                return usageError("option '" + given.substr(0, eq) + "' takes no argument", err);
            }
            return usageError("unknown or ambiguous option '" + given + "'", err);
        }
        if (c == ':') {
            std::string name = given.compare(0, 2, "--") != 0 && optopt > 0 && optopt < 256
                                   ? std::string("-") + static_cast<char>(optopt)
                                   : given;
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                name.resize(eq);
            }
            return usageError("option '" + name + "' needs an argument", err);
        }
        if (c == kHelpId) {
            help = true;
            continue;
        }
        if (c == kVersionId) {
            version = true;
            continue;
        }
        if (c == kVerboseId) {
            const char* level = optarg;
            // "-v N" with the level as the next word.
            if (level == nullptr && optind < argc && IsVerbosityWord(argv[optind])) {
                level = argv[optind++];
            }
            if (level == nullptr) {
                verbose = verbose < kMaxVerbosity ? verbose + 1 : kMaxVerbosity;
            } else if (level[0] == 'v' && strspn(level, "v") == strlen(level)) {
                // "-vvv": each v one level more.
                verbose = std::min(kMaxVerbosity, verbose + 1 + static_cast<int>(strlen(level)));
            } else if (IsVerbosityWord(level)) {
                verbose = level[0] - '0';
            } else {
                return usageError(std::string("bad verbosity '") + level + "' (0 to 4)", err);
            }
            continue;
        }
        std::string error;
        if (!handler(c, optarg, error)) {
            return usageError(error, err);
        }
    }
    for (int i = optind; i < argc; ++i) {
        operandList.push_back(argv[i]);
    }
    if (help) {
        fputs(helpText().c_str(), out);
        return 0;
    }
    if (version) {
        fputs(versionText().c_str(), out);
        return 0;
    }
    return kContinue;
}

bool CommandLine::ParseLong(const char* text, long min, long max, long& value)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) {
        return false;
    }
    value = v;
    return true;
}

bool CommandLine::ParseSeconds(const char* text, double max, double& value)
{
    if (text == nullptr || *text == '\0' || !((*text >= '0' && *text <= '9') || *text == '.')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double v = strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(v >= 0) || v > max) {
        return false;
    }
    value = v;
    return true;
}
