// pnlmon-decode: decodes one monitor report (EDID base block, inventory
// report or OSD report) read from a file or standard input, raw or as a hex
// dump, and prints the decoded fields as JSON on standard output.
//
// Exit status: 0 decoded, 1 input unreadable, 2 the bytes do not decode,
// 64 usage error.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DeviceData.h"
#include "Edid.h"
#include "Inventory.h"
#include "Logger.h"
#include "Osd.h"

namespace {

const int kExitOk = 0;
const int kExitUnreadable = 1;
const int kExitUndecodable = 2;
const int kExitUsage = 64;

// Reports larger than this are not monitor reports.
const size_t kMaxInput = 1 << 20;

const char kUsage[] =
    "Usage: pnlmon-decode edid FILE [--log[=LEVEL]]\n"
    "       pnlmon-decode inventory FILE [--vid ID] [--pid ID] [--log[=LEVEL]]\n"
    "       pnlmon-decode osd FILE [--log[=LEVEL]]\n"
    "       pnlmon-decode --help\n"
    "\n"
    "Decodes a monitor report and prints its fields as JSON.\n"
    "FILE is raw report bytes or a hex dump (hex byte pairs separated by blanks\n"
    "or newlines); '-' reads standard input. Input made only of hex digits and\n"
    "white space is taken as a hex dump unless --raw is given.\n"
    "\n"
    "  --vid ID, --pid ID  USB vendor and product id of the monitor the\n"
    "                      inventory report came from (e.g. 0x04B3, 0x4676);\n"
    "                      they select the family and the video input rules.\n"
    "                      Default 0 (no known family).\n"
    "  --raw, --hex        read FILE as raw bytes, or as a hex dump, whatever it\n"
    "                      looks like\n"
    "  --log[=LEVEL]       echo the decoders' log lines to standard error, up to\n"
    "                      LEVEL (0-4, default 4).\n"
    "\n"
    "Text fields holding bytes that are not UTF-8 are printed with U+FFFD in\n"
    "their place; NUL bytes are printed as \\u0000.\n"
    "\n"
    "Exit status: 0 decoded, 1 input unreadable, 2 the bytes do not decode,\n"
    "64 usage error.\n";

struct Options {
    std::string kind;
    std::string file;
    unsigned short vid = 0;
    unsigned short pid = 0;
    enum { kAuto, kRaw, kHex } format = kAuto;
    bool log = false;
    int logLevel = LEVEL_TRACE;
};

int UsageError(const std::string& message)
{
    fprintf(stderr, "pnlmon-decode: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

bool ParseId(const std::string& text, unsigned short& id)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFF || text[0] == '-') {
        return false;
    }
    id = static_cast<unsigned short>(value);
    return true;
}

// Returns -1 when the arguments are fine, otherwise the exit status.
int ParseArguments(int argc, char** argv, Options& options, bool& help)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return kExitOk;
        }
        if (arg == "--vid" || arg == "--pid") {
            if (i + 1 >= argc) {
                return UsageError(arg + " needs a value");
            }
            arg += "=" + std::string(argv[++i]);
        }
        if (arg.compare(0, 6, "--vid=") == 0 || arg.compare(0, 6, "--pid=") == 0) {
            unsigned short& id = arg[2] == 'v' ? options.vid : options.pid;
            if (!ParseId(arg.substr(6), id)) {
                return UsageError("bad USB id '" + arg.substr(6) + "' (0 to 0xFFFF)");
            }
        } else if (arg == "--raw") {
            options.format = Options::kRaw;
        } else if (arg == "--hex") {
            options.format = Options::kHex;
        } else if (arg == "--log") {
            options.log = true;
        } else if (arg.compare(0, 6, "--log=") == 0) {
            std::string level = arg.substr(6);
            if (level.size() != 1 || level[0] < '0' || level[0] > '4') {
                return UsageError("bad log level '" + level + "' (0 to 4)");
            }
            options.log = true;
            options.logLevel = level[0] - '0';
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return UsageError(positional.empty() ? "no report kind given" : "want a report kind and a FILE");
    }
    options.kind = positional[0];
    options.file = positional[1];
    if (options.kind != "edid" && options.kind != "inventory" && options.kind != "osd") {
        return UsageError("unknown report kind '" + options.kind + "'");
    }
    return -1;
}

bool ReadAll(FILE* in, std::vector<unsigned char>& bytes, std::string& error)
{
    unsigned char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), in)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > kMaxInput) {
            error = "more than " + std::to_string(kMaxInput) + " bytes, not a monitor report";
            return false;
        }
    }
    if (ferror(in)) {
        error = strerror(errno);
        return false;
    }
    return true;
}

bool IsHexDump(const std::vector<unsigned char>& bytes)
{
    if (bytes.empty()) {
        return false;
    }
    for (unsigned char c : bytes) {
        if (!isxdigit(c) && !isspace(c)) {
            return false;
        }
    }
    return true;
}

// Each blank-separated word is one or more whole byte pairs.
bool ParseHexDump(const std::vector<unsigned char>& text, std::vector<unsigned char>& bytes,
                  std::string& error)
{
    std::string word;
    size_t i = 0;
    while (i <= text.size()) {
        if (i == text.size() || isspace(text[i])) {
            if (word.size() % 2 != 0) {
                error = "bad hex dump: '" + word + "' is not a whole number of bytes";
                return false;
            }
            for (size_t j = 0; j < word.size(); j += 2) {
                bytes.push_back(static_cast<unsigned char>(std::stoul(word.substr(j, 2), nullptr, 16)));
            }
            word.clear();
        } else if (isxdigit(text[i])) {
            word += static_cast<char>(text[i]);
        } else {
            error = "bad hex dump: byte " + std::to_string(i) + " is neither a hex digit nor a blank";
            return false;
        }
        ++i;
    }
    return true;
}

// Reads FILE (or standard input for "-"). Returns -1 on success, otherwise
// the exit status after printing the reason.
int ReadInput(const Options& options, std::vector<unsigned char>& bytes)
{
    const std::string& file = options.file;
    std::vector<unsigned char> content;
    std::string error;
    bool ok;
    if (file == "-") {
        ok = ReadAll(stdin, content, error);
    } else {
        FILE* in = fopen(file.c_str(), "rb");
        if (in == nullptr) {
            fprintf(stderr, "pnlmon-decode: %s: %s\n", file.c_str(), strerror(errno));
            return kExitUnreadable;
        }
        ok = ReadAll(in, content, error);
        fclose(in);
    }
    if (!ok) {
        fprintf(stderr, "pnlmon-decode: %s: %s\n", file.c_str(), error.c_str());
        return kExitUnreadable;
    }
    bool hex = options.format == Options::kHex ||
               (options.format == Options::kAuto && IsHexDump(content));
    if (hex) {
        if (!ParseHexDump(content, bytes, error)) {
            fprintf(stderr, "pnlmon-decode: %s: %s\n", file.c_str(), error.c_str());
            return kExitUndecodable;
        }
    } else {
        bytes.swap(content);
    }
    return -1;
}

nlohmann::json DecodeEdid(const std::vector<unsigned char>& bytes, std::string& error)
{
    Edid edid;
    Rejection why;
    if (!edid.initialise(bytes.data(), static_cast<int>(bytes.size()), &why)) {
        error = why.text();
        return nullptr;
    }
    nlohmann::json out;
    out["edidVersion"] =
        std::to_string(edid.edidMajorVersion) + "." + std::to_string(edid.edidMinorVersion);
    out["manufacturerName"] = edid.manufacturerName;
    out["manufactureDate"] = edid.manufactureDate;
    out["horizontalScreenSize"] = edid.horizontalScreenSize;
    out["verticalScreenSize"] = edid.verticalScreenSize;
    out["supportsColor"] = edid.supportsColor;
    out["supportedResolutionsAndRefreshRates"] = edid.supportedResolutionsAndRefreshRates;
    out["preferredResolutionAndRefreshRate"] = edid.preferredResolutionAndRefreshRate;
    out["powerManagementModes"] = edid.powerManagementModes;
    return out;
}

nlohmann::json DecodeInventory(const std::vector<unsigned char>& bytes, const Options& options,
                               std::string& error)
{
    Inventory inventory;
    Rejection why;
    if (!inventory.initialise(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned int>(bytes.size()), options.vid, options.pid,
                              &why)) {
        error = why.text();
        return nullptr;
    }
    DeviceData deviceData;
    deviceData.setData(inventory, options.pid);

    nlohmann::json out;
    out["firmwareRevision"] = inventory.firmwareRevision;
    out["physicalDeviceName"] = inventory.machine;
    out["modelName"] = inventory.model;
    out["serialNumber"] = inventory.serialNumber;
    out["powerOnHours"] = inventory.powerOnHours;
    out["backlightPowerOnHours"] = inventory.backlightPowerOnHours;
    out["currentBrightnessLevel"] = inventory.backlightBrightnessPercent;
    out["backlightState"] = inventory.backlightFault;
    out["currentVideoSource"] = inventory.getVideoSourceString();
    out["family"] = deviceData.familyName();
    out["displayTechnology"] = deviceData.displayTechnology;
    out["scanMode"] = deviceData.scanMode;
    out["lightSourceType"] = deviceData.lightSourceType;
    out["lightSourceIlluminationType"] = deviceData.lightSourceIlluminationType;
    out["lightSourceCount"] = deviceData.lightSourceCount;
    out["recommendedBrightnessLevel"] = deviceData.recommendedBrightnessLevel;
    out["supportedVideoSources"] = deviceData.supportedVideoSources;
    return out;
}

nlohmann::json DecodeOsd(const std::vector<unsigned char>& bytes, std::string& error)
{
    Osd osd;
    Rejection why;
    if (!osd.initialise(bytes.data(), static_cast<int>(bytes.size()), &why)) {
        error = why.text();
        return nullptr;
    }
    nlohmann::json out;
    out["horizontalResolution"] = osd.currentHorizontalResolution;
    out["verticalResolution"] = osd.currentVerticalResolution;
    out["refreshRate"] = osd.currentRefreshRate;
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    int status = ParseArguments(argc, argv, options, help);
    if (help) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (status >= 0) {
        return status;
    }

    // The library writes lines of its own to standard output ("Logger
    // created"); results go to a duplicate of the real standard output and
    // descriptor 1 points at standard error while the decoders run.
    fflush(stdout);
    int resultFd = dup(STDOUT_FILENO);
    FILE* results = resultFd >= 0 ? fdopen(resultFd, "w") : nullptr;
    if (results == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        fprintf(stderr, "pnlmon-decode: cannot set up standard output: %s\n", strerror(errno));
        return kExitUnreadable;
    }

    std::vector<unsigned char> bytes;
    status = ReadInput(options, bytes);
    if (status >= 0) {
        return status;
    }

    if (options.log) {
        FileLogHandler& handler = Logger::GetInstance().GetFileHandler();
        handler.ApplyConfigValue("IsConsole", "1");
        handler.ApplyConfigValue("Level", std::to_string(options.logLevel));
    }

    std::string error;
    nlohmann::json out;
    if (options.kind == "edid") {
        out = DecodeEdid(bytes, error);
    } else if (options.kind == "inventory") {
        out = DecodeInventory(bytes, options, error);
    } else {
        out = DecodeOsd(bytes, error);
    }
    fflush(stdout);
    if (out.is_null()) {
        fprintf(stderr, "pnlmon-decode: %s: %s\n", options.file.c_str(), error.c_str());
        return kExitUndecodable;
    }

    // Text fields are monitor bytes: invalid UTF-8 becomes U+FFFD.
    std::string text = out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(results, "%s\n", text.c_str());
    if (fclose(results) != 0) {
        fprintf(stderr, "pnlmon-decode: cannot write the result: %s\n", strerror(errno));
        return kExitUnreadable;
    }
    return kExitOk;
}
