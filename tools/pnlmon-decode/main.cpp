// pnlmon-decode: decodes one monitor report (EDID base block, inventory
// report or OSD report) read from a file or standard input, raw or as a hex
// dump, and prints the decoded fields as JSON on standard output.
//
// Exit status: 0 decoded, 1 input unreadable, 2 the bytes do not decode (or
// text input is not a hex dump), 64 usage error.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CommandLine.h"
#include "DeviceData.h"
#include "Edid.h"
#include "EdidIdentity.h"
#include "HexDumpText.h"
#include "ToolOutput.h"
#include "display.h"
#include "log.h"
#include "Inventory.h"
#include "Osd.h"

namespace {

const int kExitOk = 0;
const int kExitUnreadable = 1;
const int kExitUndecodable = 2;

// Reports larger than this are not monitor reports.
const size_t kMaxInput = 1 << 20;

const char kSynopsis[] =
    "[-v...] edid FILE\n"
    "[-v...] [--vid=ID] [--pid=ID] inventory FILE\n"
    "[-v...] osd FILE";

const char kDescription[] =
    "Decodes a monitor report and prints its fields as JSON.\n"
    "FILE is raw report bytes or a hex dump; '-' reads standard input. Text input\n"
    "is read as a hex dump: plain hex byte pairs (blanks, commas and 0x allowed),\n"
    "xxd or hexdump -C output, the hex block of edid-decode's output, or the\n"
    "reports pnlmon-inventory --raw prints. Other input is raw bytes.\n"
    "For an EDID, the product name, serial text, product code, serial number and\n"
    "model year found in it are added beside the driver's fields.";

const char kFooter[] =
    "Text fields holding bytes that are not UTF-8 are printed with U+FFFD in\n"
    "their place; NUL bytes are printed as \\u0000.\n"
    "\n"
    "Exit status:\n"
    "  0   decoded\n"
    "  1   input unreadable\n"
    "  2   the bytes do not decode, or text input is not a hex dump\n"
    "  64  usage error\n";

enum OptionId { kVid = 0x100, kPid, kRaw, kHex, kLog };

struct Options {
    std::string kind;
    std::string file;
    unsigned short vid = 0;
    unsigned short pid = 0;
    enum { kAuto, kRaw, kHex } format = kAuto;
    int logLevel = LEVEL_OFF;
};

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
    bool text = HexDumpText::IsText(content);
    bool hex = options.format == Options::kHex || (options.format == Options::kAuto && text);
    if (hex) {
        if (!text) {
            size_t at = 0;
            while (at < content.size() && (isprint(content[at]) || isspace(content[at]))) {
                ++at;
            }
            fprintf(stderr, "pnlmon-decode: %s: not a hex dump: byte %zu is neither a hex digit nor a blank\n",
                    file.c_str(), at);
            return kExitUndecodable;
        }
        if (!HexDumpText::Read(std::string(content.begin(), content.end()), bytes, error)) {
            fprintf(stderr, "pnlmon-decode: %s: not a hex dump: %s\n", file.c_str(), error.c_str());
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

    // What else the block names, where present.
    EdidIdentity identity;
    identity.decode(bytes.data(), bytes.size());
    if (identity.hasProductName) {
        out["productName"] = identity.productName;
    }
    if (identity.hasSerialString) {
        out["serialString"] = identity.serialString;
    }
    out["productCode"] = identity.productCode;
    if (identity.hasSerialNumber) {
        out["serialNumber"] = identity.serialNumber;
    }
    if (identity.hasModelYear) {
        out["modelYear"] = identity.modelYear;
    }
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
    CommandLine commandLine(
        "pnlmon-decode", kSynopsis, kDescription,
        {
            {"vid", 0, CommandLine::kRequired, "ID",
             "USB vendor id of the monitor an inventory report came\nfrom (e.g. 0x04B3); with --pid it selects the family\nand the video input rules. Default 0 (no known family)",
             kVid},
            {"pid", 0, CommandLine::kRequired, "ID", "USB product id of that monitor (e.g. 0x4676)", kPid},
            {"raw", 0, CommandLine::kNone, nullptr, "read FILE as raw bytes, whatever it looks like", kRaw},
            {"hex", 0, CommandLine::kNone, nullptr, "read FILE as a hex dump, whatever it looks like", kHex},
            {"log", 0, CommandLine::kOptional, "LEVEL", "the same as --verbose=LEVEL (default 4)", kLog},
        },
        kFooter);
    int status = commandLine.parse(argc, argv, [&](int id, const char* value, std::string& error) {
        switch (id) {
        case kVid:
        case kPid:
            if (!ParseId(value, id == kVid ? options.vid : options.pid)) {
                error = std::string("bad USB id '") + value + "' (0 to 0xFFFF)";
                return false;
            }
            return true;
        case kRaw: options.format = Options::kRaw; return true;
        case kHex: options.format = Options::kHex; return true;
        case kLog:
            if (value == nullptr) {
                options.logLevel = LEVEL_TRACE;
            } else if (value[0] >= '0' && value[0] <= '4' && value[1] == '\0') {
                options.logLevel = value[0] - '0';
            } else {
                error = std::string("bad log level '") + value + "' (0 to 4)";
                return false;
            }
            return true;
        default:
            return false;
        }
    });
    if (status != CommandLine::kContinue) {
        return status;
    }
    const std::vector<std::string>& operands = commandLine.operands();
    if (operands.size() != 2) {
        return commandLine.usageError(operands.empty() ? "no report kind given" : "want a report kind and a FILE");
    }
    options.kind = operands[0];
    options.file = operands[1];
    if (options.kind != "edid" && options.kind != "inventory" && options.kind != "osd") {
        return commandLine.usageError("unknown report kind '" + options.kind + "'");
    }
    if (commandLine.verbosity() > options.logLevel) {
        options.logLevel = commandLine.verbosity();
    }

    // The library writes lines of its own to standard output ("Logger
    // created"); results go to a duplicate of the real standard output.
    ToolOutput output;
    std::string error;
    if (!output.divert(options.logLevel >= LEVEL_TRACE, error)) {
        fprintf(stderr, "pnlmon-decode: %s\n", error.c_str());
        return kExitUnreadable;
    }

    std::vector<unsigned char> bytes;
    status = ReadInput(options, bytes);
    if (status >= 0) {
        return status;
    }
    LogMirrorToStandardError(static_cast<LOG_LEVEL>(options.logLevel));

    nlohmann::json out;
    if (options.kind == "edid") {
        out = DecodeEdid(bytes, error);
    } else if (options.kind == "inventory") {
        out = DecodeInventory(bytes, options, error);
    } else {
        out = DecodeOsd(bytes, error);
    }
    if (out.is_null()) {
        fprintf(stderr, "pnlmon-decode: %s: %s\n", options.file.c_str(), error.c_str());
        return kExitUndecodable;
    }

    // Text fields are monitor bytes: invalid UTF-8 becomes U+FFFD.
    std::string text = out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(output.out(), "%s\n", text.c_str());
    if (!output.finish()) {
        fprintf(stderr, "pnlmon-decode: cannot write the result: %s\n", strerror(errno));
        return kExitUnreadable;
    }
    return kExitOk;
}
