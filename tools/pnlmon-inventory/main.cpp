// pnlmon-inventory: lists the point-of-sale monitors attached over USB, as a
// table or as JSON, or watches them come and go. A thin shell over the
// public driver API; the driver's own standard-output lines are sent to
// standard error so that standard output carries only results.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "display.h"

namespace {

const char kUsage[] =
    "Usage: pnlmon-inventory [--json] [--watch SECONDS [--count N]]\n"
    "\n"
    "Lists the supported monitors attached over USB.\n"
    "\n"
    "  --json             print the full records as JSON (an array; with --watch one\n"
    "                     event object per line)\n"
    "  --watch SECONDS    enumerate every SECONDS seconds and print each arrival and\n"
    "                     departure as the driver reports it\n"
    "  --count N          with --watch: stop after N enumerations (default: until\n"
    "                     interrupted)\n"
    "  --help             this text\n"
    "\n"
    "Opening the monitors needs root, or read and write access to their device\n"
    "nodes under /dev/bus/usb.\n"
    "\n"
    "Exit status: the driver's result of the (last) enumeration:\n"
    "  0  OK, monitors listed\n"
    "  1  driver not initialised\n"
    "  2  internal error (the driver could not initialise)\n"
    "  4  the USB device list could not be obtained\n"
    "  5  no supported monitor found (or none could be opened)\n"
    "  11 a monitor firmware-flash utility is running; the monitors were not touched\n"
    "  64 usage error\n";

const int kUsageError = 64;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

// Standard output for results; the real descriptor 1 points at standard
// error while the driver runs.
FILE* g_out = stdout;

bool RedirectLibraryOutput()
{
    fflush(stdout);
    int fd = dup(1);
    if (fd < 0) {
        return false;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        close(fd);
        return false;
    }
    if (dup2(2, 1) < 0) {
        fclose(out);
        return false;
    }
    g_out = out;
    return true;
}

std::string DeviceId(const DisplayInformation& info)
{
    std::string id;
    info.getDeviceId(id);
    return id;
}

std::string Join(const str_list_t& list, const char* sep)
{
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0) {
            text += sep;
        }
        text += list[i];
    }
    return text;
}

nlohmann::json ToJson(const DisplayInformation& d)
{
    nlohmann::json j;
    j["deviceId"] = DeviceId(d);
    j["bus"] = d.bus;
    j["deviceCategory"] = d.deviceCategory;
    j["firmwareRevision"] = d.firmwareRevision;
    j["manufactureDate"] = d.manufactureDate;
    j["manufacturerName"] = d.manufacturerName;
    j["mechanicalRevision"] = d.mechanicalRevision;
    j["physicalDeviceName"] = d.physicalDeviceName;
    j["modelName"] = d.modelName;
    j["serialNumber"] = d.serialNumber;
    j["horizontalScreenSize"] = d.horizontalScreenSize;
    j["verticalScreenSize"] = d.verticalScreenSize;
    j["horizontalResolution"] = d.horizontalResolution;
    j["verticalResolution"] = d.verticalResolution;
    j["refreshRate"] = d.refreshRate;
    j["supportedResolutionsAndRefreshRates"] = d.supportedResolutionsAndRefreshRates;
    j["preferredResolutionAndRefreshRate"] = d.preferredResolutionAndRefreshRate;
    j["displayTechnology"] = d.displayTechnology;
    j["scanMode"] = d.scanMode;
    j["supportsColor"] = d.supportsColor;
    j["supportedVideoSources"] = d.supportedVideoSources;
    j["currentVideoSource"] = d.currentVideoSource;
    j["lightSourceType"] = d.lightSourceType;
    j["lightSourceIlluminationType"] = d.lightSourceIlluminationType;
    j["lightSourceCount"] = d.lightSourceCount;
    j["recommendedBrightnessLevel"] = d.recommendedBrightnessLevel;
    j["currentBrightnessLevel"] = d.currentBrightnessLevel;
    j["backlightState"] = d.backlightState;
    j["hoursPoweredCount"] = d.hoursPoweredCount;
    j["currentBacklightPowerOnHours"] = d.currentBacklightPowerOnHours;
    j["powerManagementModes"] = d.powerManagementModes;
    return j;
}

const char* BacklightText(uint16_t state)
{
    switch (state) {
    case 1:
        return "ok";
    case 2:
        return "fault";
    default:
        return "unknown";
    }
}

// One row per attribute, one column per monitor.
void PrintTable(const DisplayInformationList& list)
{
    typedef std::string (*Cell)(const DisplayInformation&);
    struct Row {
        const char* title;
        Cell cell;
    };
    static const Row rows[] = {
        {"Device ID", [](const DisplayInformation& d) { return DeviceId(d); }},
        {"Manufacturer", [](const DisplayInformation& d) { return d.manufacturerName; }},
        {"Manufacture date", [](const DisplayInformation& d) { return d.manufactureDate; }},
        {"Firmware", [](const DisplayInformation& d) { return d.firmwareRevision; }},
        {"Display technology", [](const DisplayInformation& d) { return std::to_string(d.displayTechnology); }},
        {"Scan mode", [](const DisplayInformation& d) { return std::to_string(d.scanMode); }},
        {"Light source type", [](const DisplayInformation& d) { return std::to_string(d.lightSourceType); }},
        {"Light illumination",
         [](const DisplayInformation& d) { return std::to_string(d.lightSourceIlluminationType); }},
        {"Light source count", [](const DisplayInformation& d) { return std::to_string(d.lightSourceCount); }},
        {"Recommended brightness",
         [](const DisplayInformation& d) { return std::to_string(d.recommendedBrightnessLevel); }},
        {"Brightness", [](const DisplayInformation& d) { return std::to_string(d.currentBrightnessLevel) + "%"; }},
        {"Backlight", [](const DisplayInformation& d) { return std::string(BacklightText(d.backlightState)); }},
        {"Hours powered", [](const DisplayInformation& d) { return std::to_string(d.hoursPoweredCount); }},
        {"Backlight hours",
         [](const DisplayInformation& d) { return std::to_string(d.currentBacklightPowerOnHours); }},
        {"Video source", [](const DisplayInformation& d) { return d.currentVideoSource; }},
        {"Video inputs", [](const DisplayInformation& d) { return Join(d.supportedVideoSources, ", "); }},
        {"Current mode",
         [](const DisplayInformation& d) {
             return std::to_string(d.horizontalResolution) + "x" + std::to_string(d.verticalResolution) + " @ " +
                    std::to_string(d.refreshRate) + " Hz";
         }},
        {"Preferred mode", [](const DisplayInformation& d) { return d.preferredResolutionAndRefreshRate; }},
        {"Screen size",
         [](const DisplayInformation& d) {
             return std::to_string(d.horizontalScreenSize) + " x " + std::to_string(d.verticalScreenSize) + " mm";
         }},
        {"Colour", [](const DisplayInformation& d) { return std::string(d.supportsColor ? "yes" : "no"); }},
    };
    size_t titleWidth = 0;
    for (const Row& row : rows) {
        titleWidth = std::max(titleWidth, strlen(row.title));
    }
    std::vector<size_t> widths(list.size(), 0);
    for (size_t m = 0; m < list.size(); ++m) {
        for (const Row& row : rows) {
            widths[m] = std::max(widths[m], row.cell(list[m]).size());
        }
    }
    for (const Row& row : rows) {
        fprintf(g_out, "%-*s", static_cast<int>(titleWidth), row.title);
        for (size_t m = 0; m < list.size(); ++m) {
            std::string cell = row.cell(list[m]);
            if (m + 1 == list.size()) {
                fprintf(g_out, "  %s", cell.c_str());
            } else {
                fprintf(g_out, "  %-*s", static_cast<int>(widths[m]), cell.c_str());
            }
        }
        fprintf(g_out, "\n");
    }
}

void ExplainCode(DISPLAY_CODE code)
{
    switch (code) {
    case DSP_OK:
        break;
    case DSP_NO_DEVICES:
        if (geteuid() != 0) {
            fprintf(stderr,
                    "pnlmon-inventory: no supported monitor found. Opening the monitors needs root, or read and "
                    "write access to their device nodes under /dev/bus/usb; run it as root or grant that access.\n");
        } else {
            fprintf(stderr, "pnlmon-inventory: no supported monitor found\n");
        }
        break;
    case DSP_FLASH_IN_PROGRESS:
        fprintf(stderr, "pnlmon-inventory: a monitor firmware-flash utility is running; monitors not queried\n");
        break;
    case DSP_ENUM_FAILED:
        fprintf(stderr, "pnlmon-inventory: the USB device list could not be obtained\n");
        break;
    default:
        fprintf(stderr, "pnlmon-inventory: driver error %d\n", static_cast<int>(code));
        break;
    }
}

class WatchListener : public IDisplayListener {
public:
    explicit WatchListener(bool json) : json(json) {}

    void DisplayCreated(DisplayInformation info) override { Print("arrived", info); }
    void DisplayDeleted(DisplayInformation info) override { Print("departed", info); }

private:
    void Print(const char* event, const DisplayInformation& info)
    {
        if (json) {
            nlohmann::json j;
            j["event"] = event;
            j["display"] = ToJson(info);
            fprintf(g_out, "%s\n", j.dump().c_str());
        } else {
            char stamp[32];
            time_t now = time(nullptr);
            struct tm tmNow;
            localtime_r(&now, &tmNow);
            strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tmNow);
            fprintf(g_out, "%s %-8s %s\n", stamp, event, DeviceId(info).c_str());
        }
        fflush(g_out);
    }

    bool json;
};

bool ParseNumber(const char* text, long min, long& value)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min) {
        return false;
    }
    value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    bool json = false;
    bool watch = false;
    long interval = 0;
    long count = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--watch" && i + 1 < argc && ParseNumber(argv[i + 1], 0, interval)) {
            watch = true;
            ++i;
        } else if (arg == "--count" && i + 1 < argc && ParseNumber(argv[i + 1], 1, count)) {
            ++i;
        } else {
            fprintf(stderr, "pnlmon-inventory: bad argument '%s'\n\n%s", arg.c_str(), kUsage);
            return kUsageError;
        }
    }
    if (count >= 0 && !watch) {
        fprintf(stderr, "pnlmon-inventory: --count needs --watch\n\n%s", kUsage);
        return kUsageError;
    }
    if (!RedirectLibraryOutput()) {
        fprintf(stderr, "pnlmon-inventory: cannot set up standard output: %s\n", strerror(errno));
        return 1;
    }

    DISPLAY_CODE code;
    {
        DisplayApi api;
        code = api.initialiseDisplayDriver();
        if (code != DSP_OK) {
            ExplainCode(code);
            return static_cast<int>(code);
        }
        if (!watch) {
            DisplayInformationList list;
            code = api.getDisplayInformationList(list);
            if (code == DSP_OK) {
                if (json) {
                    nlohmann::json all = nlohmann::json::array();
                    for (const DisplayInformation& d : list) {
                        all.push_back(ToJson(d));
                    }
                    fprintf(g_out, "%s\n", all.dump(2).c_str());
                } else {
                    PrintTable(list);
                }
            } else if (json) {
                fprintf(g_out, "[]\n");
            }
            ExplainCode(code);
        } else {
            struct sigaction sa;
            memset(&sa, 0, sizeof(sa));
            sa.sa_handler = OnSignal;
            sigaction(SIGINT, &sa, nullptr);
            sigaction(SIGTERM, &sa, nullptr);
            WatchListener listener(json);
            api.setDisplayListener(&listener);
            DISPLAY_CODE last = DSP_OK;
            for (long n = 0; (count < 0 || n < count) && !g_stop; ++n) {
                if (n > 0) {
                    // Sleep in short steps so that a signal ends the wait.
                    for (long ms = 0; ms < interval * 1000 && !g_stop; ms += 100) {
                        usleep(100 * 1000);
                    }
                    if (g_stop) {
                        break;
                    }
                }
                DisplayInformationList list;
                code = api.getDisplayInformationList(list);
                if (code != last && code != DSP_OK) {
                    ExplainCode(code);
                }
                last = code;
            }
            api.clearDisplayListener();
        }
    }
    fflush(g_out);
    return static_cast<int>(code);
}
