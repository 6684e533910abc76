// pnlmon-inventory: lists the point-of-sale monitors attached over USB, in
// detail, one line each, or as JSON; writes a monitor's raw EDID; or
// watches the monitors come and go. A thin shell over the public driver
// API: the tool never talks to the bus itself.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ByteText.h"
#include "CommandLine.h"
#include "DeviceHolder.h"
#include "HexDumpText.h"
#include "MonitorView.h"
#include "PrometheusView.h"
#include "AtomicFile.h"
#include "ToolOutput.h"
#include "display.h"
#include "log.h"

namespace {

const int kExitNoMonitor = DSP_NO_DEVICES;
const int kExitOutputFailed = 74;  // sysexits' EX_IOERR
const int kExitAllBusy = 75;       // sysexits' EX_TEMPFAIL: try again later
const int kExitNoPermission = 77;  // sysexits' EX_NOPERM
const int kUsbErrorAccess = -3;    // LIBUSB_ERROR_ACCESS
const char kGroup[] = "pnlmon";

const char kSynopsis[] =
    "[-l | -j] [-r] [-i ID | -s [BUS:]DEV] [-v...]\n"
    "-e [-i ID | -s [BUS:]DEV]\n"
    "-w SECONDS [-c N] [-j] [-i ID]\n"
    "--prometheus [--output=FILE]";

const char kDescription[] =
    "Lists the supported point-of-sale monitors attached over USB: in detail\n"
    "(the default), one line per monitor (-l) or as JSON (-j). -e writes the\n"
    "raw EDID of one monitor to standard output (pipe it into edid-decode).\n"
    "--prometheus writes the monitors' state as Prometheus metrics (for the\n"
    "textfile collector of node_exporter).";

const char kFooter[] =
    "Text the monitor sent that is not printable is shown as \\xHH in the views\n"
    "(a backslash as \\\\); in JSON such a text keeps its key with U+FFFD for each\n"
    "bad byte and gains \"<key>Bytes\" holding all its bytes in hex.\n"
    "\n"
    "Opening the monitors needs root or membership of the group 'pnlmon'.\n"
    "\n"
    "Exit status:\n"
    "  0   monitors listed\n"
    "  1   driver not initialised\n"
    "  2   the driver could not initialise\n"
    "  4   the USB device list could not be obtained\n"
    "  5   no supported monitor found, none matches the selection, or none\n"
    "      could be read\n"
    "  11  a monitor firmware-flash utility is running; monitors not touched\n"
    "  64  usage error\n"
    "  74  the output could not be written\n"
    "  75  monitors found, but every one is in use by another program\n"
    "      (a flash utility, say); try again later\n"
    "  77  monitors found, but this user may not open them\n";

enum OptionId { kJson = 'j', kList = 'l', kRaw = 'r', kEdid = 'e', kWatch = 'w', kCount = 'c', kId = 'i', kUsb = 's',
                kPrometheus = 0x200, kOutput = 0x201 };

struct Options {
    bool json = false;
    bool list = false;
    bool raw = false;
    bool edid = false;
    bool watch = false;
    bool prometheus = false;
    std::string output;  // with --prometheus: the file to replace
    double interval = 0;
    long count = -1;
    std::string id;
    bool byUsb = false;
    long bus = -1;  // -1: any bus
    long device = -1;
    int verbosity = 0;
};

volatile sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

bool ParseUsb(const char* text, Options& options)
{
    std::string value = text;
    size_t colon = value.find(':');
    long bus = -1;
    long device = -1;
    if (colon == std::string::npos) {
        if (!CommandLine::ParseLong(value.c_str(), 1, 255, device)) {
            return false;
        }
    } else {
        std::string busText = value.substr(0, colon);
        std::string deviceText = value.substr(colon + 1);
        if (!busText.empty() && !CommandLine::ParseLong(busText.c_str(), 1, 255, bus)) {
            return false;
        }
        if (!CommandLine::ParseLong(deviceText.c_str(), 1, 255, device)) {
            return false;
        }
    }
    options.byUsb = true;
    options.bus = bus;
    options.device = device;
    return true;
}

bool Selected(const Options& options, const MonitorView& view)
{
    if (!options.id.empty()) {
        std::string id = view.deviceId();
        if (id != options.id && ByteText::ForTerminal(id) != options.id) {
            return false;
        }
    }
    if (options.byUsb) {
        const DisplayReport* usb = view.report();
        if (usb == nullptr || usb->deviceAddress != options.device ||
            (options.bus >= 0 && usb->busNumber != options.bus)) {
            return false;
        }
    }
    return true;
}

// True when the report stands for one of the records: read now, or busy
// with the record of an earlier read kept.
bool HasRecord(const DisplayReport& report)
{
    return report.state == DisplayReport::READ || (report.state == DisplayReport::BUSY && !report.deviceId.empty());
}

// Pairs the records with the reports of the same enumeration: the reports
// that have a record come in the order of the records.
std::vector<MonitorView> Pair(const DisplayInformationList& records, const display_report_list_t& reports)
{
    std::vector<MonitorView> views;
    size_t next = 0;
    for (const DisplayReport& report : reports) {
        if (HasRecord(report) && next < records.size()) {
            views.emplace_back(&records[next++], &report);
        } else if (!HasRecord(report)) {
            views.emplace_back(nullptr, &report);
        }
    }
    for (; next < records.size(); ++next) {
        views.emplace_back(&records[next], nullptr);
    }
    return views;
}

std::string SelectionText(const Options& options)
{
    std::string text;
    if (!options.id.empty()) {
        text = "device identifier " + ByteText::ForTerminal(options.id);
    }
    if (options.byUsb) {
        char usb[64];
        if (options.bus >= 0) {
            snprintf(usb, sizeof(usb), "bus %03ld device %03ld", options.bus, options.device);
        } else {
            snprintf(usb, sizeof(usb), "device %03ld", options.device);
        }
        text += (text.empty() ? "" : " and ") + std::string(usb);
    }
    return text;
}

void ExplainCode(DISPLAY_CODE code)
{
    switch (code) {
    case DSP_OK:
        break;
    case DSP_NO_DEVICES:
        fprintf(stderr, "pnlmon-inventory: no supported monitor found\n");
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

void ExplainPermission(size_t denied)
{
    fprintf(stderr,
            "pnlmon-inventory: permission denied: %zu monitor%s found but this user may not open %s.\n"
            "Run as root, or join the group '%s' (sudo usermod -aG %s \"$USER\", then log in again).\n",
            denied, denied == 1 ? "" : "s", denied == 1 ? "it" : "them", kGroup, kGroup);
}

// Writes the EDID of the one selected monitor: the base block and, when it
// announces one and it was read, the extension block.
int WriteEdid(FILE* out, const std::vector<MonitorView>& views)
{
    const MonitorView* chosen = nullptr;
    size_t candidates = 0;
    for (const MonitorView& view : views) {
        if (view.report() != nullptr && view.report()->edid.size() >= 128) {
            chosen = &view;
            ++candidates;
        }
    }
    if (candidates == 0) {
        fprintf(stderr, "pnlmon-inventory: no EDID was read from the selected monitor\n");
        return kExitNoMonitor;
    }
    if (candidates > 1) {
        fprintf(stderr,
                "pnlmon-inventory: %zu monitors match; choose one with --id or --usb\n"
                "Try 'pnlmon-inventory --help' for more information.\n",
                candidates);
        return CommandLine::kUsageError;
    }
    const std::vector<unsigned char>& edid = chosen->report()->edid;
    size_t length = 128;
    if (edid[126] >= 1 && edid.size() >= 256) {
        length = 256;
    }
    if (isatty(fileno(out))) {
        // Binary on a terminal helps no one: the hex form edid-decode reads.
        fputs(HexDumpText::Format(edid.data(), length, "").c_str(), out);
    } else {
        fwrite(edid.data(), 1, length, out);
    }
    return 0;
}

class WatchListener : public IDisplayListener {
public:
    WatchListener(FILE* out, const Options& options) : out(out), options(options) {}

    void DisplayCreated(DisplayInformation info) override { Print("arrived", info); }
    void DisplayDeleted(DisplayInformation info) override { Print("departed", info); }

private:
    void Print(const char* event, const DisplayInformation& info)
    {
        MonitorView view(&info, nullptr);
        if (!options.id.empty() && !Selected(options, view)) {
            return;
        }
        if (options.json) {
            nlohmann::json j;
            j["event"] = event;
            j["display"] = view.json(false);
            ByteText::MakeJsonSafe(j);
            fprintf(out, "%s\n", j.dump().c_str());
        } else {
            char stamp[32];
            time_t now = time(nullptr);
            struct tm tmNow;
            localtime_r(&now, &tmNow);
            strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tmNow);
            fprintf(out, "%s %-8s %s\n", stamp, event, ByteText::ForTerminal(view.deviceId()).c_str());
        }
        fflush(out);
    }

    FILE* out;
    const Options& options;
};

// Told by the driver's watcher that a monitor came or went; Watch then
// enumerates, and the listener prints the arrivals and departures.
class ChangeFlag : public IDisplayChangeListener {
public:
    void DisplaysMayHaveChanged(bool) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        changed = true;
        wake.notify_all();
    }

    // Waits up to milliseconds for a change; true when one came (and it is
    // taken).
    bool take(long milliseconds)
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return changed; });
        bool was = changed;
        changed = false;
        return was;
    }

private:
    std::mutex mutex;
    std::condition_variable wake;
    bool changed = false;
};

// Waits until a change was told (and a moment longer, so that a burst of
// changes gives one enumeration), the interval passed (when there is one),
// or a signal came.
void WaitForChangeOrInterval(ChangeFlag& changes, double interval)
{
    const long stepMs = 100; // a signal ends the wait within this
    for (double waited = 0; !g_stop && (interval <= 0 || waited < interval); waited += stepMs / 1000.0) {
        if (changes.take(stepMs)) {
            usleep(200 * 1000);
            changes.take(0);
            return;
        }
    }
}

// Enumerates every interval until stopped or count enumerations are done;
// the listener prints the changes as the driver reports them.
DISPLAY_CODE Watch(DisplayApi& api, FILE* out, const Options& options)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    WatchListener listener(out, options);
    api.setDisplayListener(&listener);
    DISPLAY_CODE code = DSP_OK;
    DISPLAY_CODE last = DSP_OK;
    ChangeFlag changes;
    DisplayChangeWatcher watcher;
    double interval = options.interval;
    if (watcher.start(&changes) != DSP_OK && interval <= 0) {
        fprintf(stderr, "pnlmon-inventory: arrivals and departures cannot be watched here; "
                        "enumerating every second\n");
        interval = 1;
    }
    for (long n = 0; (options.count < 0 || n < options.count) && !g_stop; ++n) {
        if (n > 0) {
            WaitForChangeOrInterval(changes, interval);
            if (g_stop) {
                break;
            }
        }
        DisplayInformationList list;
        code = api.getDisplayInformationList(list);
        if (code != last && code != DSP_OK && code != DSP_NO_DEVICES) {
            ExplainCode(code);
        }
        last = code;
    }
    watcher.stop();
    api.clearDisplayListener();
    return code;
}

// Writes the metrics of a reading to standard output or replaces the file.
bool WriteMetrics(const PrometheusView::Reading& reading, FILE* out, const Options& options)
{
    const std::string text = PrometheusView::Format(reading);
    std::string error;
    if (options.output.empty()) {
        fputs(text.c_str(), out);
    } else if (!AtomicFile::Write(options.output, text, 0644, error)) {
        fprintf(stderr, "pnlmon-inventory: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The metrics of one reading. The exit status is the listing's; a failed
// read is also told by the metrics.
int Metrics(DisplayApi& api, FILE* out, const Options& options)
{
    PrometheusView::Reading reading = PrometheusView::Read(api);
    if (!WriteMetrics(reading, out, options)) {
        return kExitOutputFailed;
    }
    size_t denied = 0;
    for (const DisplayReport& report : reading.reports) {
        if (report.state == DisplayReport::OPEN_FAILED && report.usbError == kUsbErrorAccess) {
            ++denied;
        }
    }
    if (denied > 0) {
        ExplainPermission(denied);
    }
    if (!reading.records.empty()) {
        return 0;
    }
    if (reading.code != DSP_OK && reading.code != DSP_NO_DEVICES) {
        ExplainCode(reading.code);
        return reading.code;
    }
    return denied > 0 ? kExitNoPermission : kExitNoMonitor;
}

int List(DisplayApi& api, FILE* out, const Options& options)
{
    DisplayInformationList records;
    DISPLAY_CODE code = api.getDisplayInformationList(records);
    display_report_list_t reports;
    api.getDisplayReports(reports);

    std::vector<MonitorView> all = Pair(records, reports);
    std::vector<MonitorView> views;
    for (const MonitorView& view : all) {
        if (Selected(options, view)) {
            views.push_back(view);
        }
    }
    size_t read = 0;
    size_t denied = 0;
    size_t busy = 0;
    DeviceHolder holders;
    for (MonitorView& view : views) {
        if (view.busy()) {
            pid_t pid = 0;
            std::string name;
            if (holders.find(view.report()->busNumber, view.report()->deviceAddress, pid, name)) {
                view.setHolder(pid, name);
            }
        }
        if (view.record() != nullptr) {
            ++read;
        } else if (view.busy()) {
            ++busy;
        } else if (view.report() != nullptr && view.report()->state == DisplayReport::OPEN_FAILED &&
                   view.report()->usbError == kUsbErrorAccess) {
            ++denied;
        }
    }

    if (code != DSP_OK && code != DSP_NO_DEVICES) {
        if (options.json) {
            fprintf(out, "[]\n");
        }
        ExplainCode(code);
        return code;
    }
    if (options.edid) {
        return WriteEdid(out, views);
    }

    if (options.json) {
        nlohmann::json array = nlohmann::json::array();
        for (const MonitorView& view : views) {
            if (view.record() != nullptr || view.busy()) {
                array.push_back(view.json(options.raw));
            }
        }
        ByteText::MakeJsonSafe(array);
        fprintf(out, "%s\n", array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        bool first = true;
        for (const MonitorView& view : views) {
            if (options.list) {
                fprintf(out, "%s\n", view.line().c_str());
            } else if (view.record() != nullptr || options.raw) {
                fprintf(out, "%s%s", first ? "" : "\n", view.detailed(options.raw).c_str());
                first = false;
            }
        }
    }
    // Monitors seen but not read are named on standard error.
    for (const MonitorView& view : views) {
        if (view.busy() && !options.list) {
            // Busy monitors are named whether or not an earlier record of
            // them is shown.
            fprintf(stderr, "pnlmon-inventory: %s\n", view.busyLine().c_str());
        } else if (view.record() == nullptr && view.report() != nullptr && !options.list) {
            fprintf(stderr, "pnlmon-inventory: bus %s ID %s not read: %s\n", view.busDevice().c_str(),
                    view.vendorProduct().c_str(), MonitorView::FailureText(*view.report()).c_str());
        }
    }
    if (read > 0) {
        if (denied > 0) {
            ExplainPermission(denied);
        }
        return 0;
    }
    if (denied > 0) {
        ExplainPermission(denied);
        return kExitNoPermission;
    }
    if (busy > 0 && busy == views.size()) {
        fprintf(stderr, "pnlmon-inventory: %s in use by another program; try again later\n",
                busy == 1 ? "the monitor found is" : "every monitor found is");
        return kExitAllBusy;
    }
    if (!views.empty() || code != DSP_OK) {
        ExplainCode(DSP_NO_DEVICES);
    } else {
        fprintf(stderr, "pnlmon-inventory: no monitor matches the %s\n", SelectionText(options).c_str());
    }
    return kExitNoMonitor;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    CommandLine commandLine(
        "pnlmon-inventory", kSynopsis, kDescription,
        {
            {"list", 'l', CommandLine::kNone, nullptr, "one line per monitor, with its USB place", kList},
            {"json", 'j', CommandLine::kNone, nullptr,
             "the full records as JSON (an array; with --watch one\nevent object per line)", kJson},
            {"raw", 'r', CommandLine::kNone, nullptr,
             "add the raw inventory, EDID and OSD reports in hex\n(pnlmon-decode reads them back)", kRaw},
            {"edid", 'e', CommandLine::kNone, nullptr,
             "write the raw EDID of the selected monitor to standard\noutput (as hex on a terminal)", kEdid},
            {"id", 'i', CommandLine::kRequired, "ID", "only the monitor with this device identifier", kId},
            {"usb", 's', CommandLine::kRequired, "[BUS:]DEV",
             "only the monitor at this USB bus and device number\n(decimal, as a USB device listing shows them)",
             kUsb},
            {"watch", 'w', CommandLine::kRequired, "SECONDS",
             "print each arrival and departure as it happens, and also\nenumerate every SECONDS seconds (0: only when a monitor\ncomes or goes)", kWatch},
            {"count", 'c', CommandLine::kRequired, "N", "with --watch: stop after N enumerations", kCount},
            {"prometheus", 0, CommandLine::kNone, nullptr,
             "the monitors' state as Prometheus metrics (text format)", kPrometheus},
            {"output", 0, CommandLine::kRequired, "FILE",
             "with --prometheus: replace FILE atomically (a temporary\nfile in its folder, then renamed) instead of\nwriting to standard output", kOutput},
        },
        kFooter);
    commandLine.addVersionLine(std::string("libvexdisplay: ") + PnlmonlVersion + BuildDate);
    int status = commandLine.parse(argc, argv, [&](int id, const char* value, std::string& error) {
        switch (id) {
        case kJson: options.json = true; return true;
        case kList: options.list = true; return true;
        case kRaw: options.raw = true; return true;
        case kEdid: options.edid = true; return true;
        case kPrometheus: options.prometheus = true; return true;
        case kOutput:
            options.output = value;
            if (options.output.empty()) {
                error = "--output needs a file name";
                return false;
            }
            return true;
        case kId:
            options.id = value;
            if (options.id.empty()) {
                error = "--id needs a device identifier";
                return false;
            }
            return true;
        case kUsb:
            if (!ParseUsb(value, options)) {
                error = std::string("bad USB place '") + value + "' (want [BUS:]DEV, 1 to 255)";
                return false;
            }
            return true;
        case kWatch:
            if (!CommandLine::ParseSeconds(value, 86400, options.interval)) {
                error = std::string("bad --watch interval '") + value + "' (seconds, 0 to 86400)";
                return false;
            }
            options.watch = true;
            return true;
        case kCount:
            if (!CommandLine::ParseLong(value, 1, 1000000000L, options.count)) {
                error = std::string("bad --count '") + value + "' (a positive number)";
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
    if (!commandLine.operands().empty()) {
        return commandLine.usageError("unexpected argument '" + commandLine.operands()[0] + "'");
    }
    if (options.count >= 0 && !options.watch) {
        return commandLine.usageError("--count needs --watch");
    }
    if (options.json && options.list) {
        return commandLine.usageError("--json and --list exclude each other");
    }
    if (options.edid && (options.json || options.list || options.raw || options.watch)) {
        return commandLine.usageError("--edid goes alone (with --id or --usb)");
    }
    if (options.watch && (options.list || options.raw || options.byUsb)) {
        return commandLine.usageError("--watch takes only --json, --id and --count");
    }
    if (options.prometheus && (options.json || options.list || options.raw || options.edid || options.watch ||
                               !options.id.empty() || options.byUsb)) {
        return commandLine.usageError("--prometheus takes only --output");
    }
    if (!options.output.empty() && !options.prometheus) {
        return commandLine.usageError("--output needs --prometheus");
    }
    options.verbosity = commandLine.verbosity();

    ToolOutput output;
    std::string error;
    // The library's own console lines only reach the user at the most
    // detailed level.
    if (!output.divert(options.verbosity >= LEVEL_TRACE, error)) {
        fprintf(stderr, "pnlmon-inventory: %s\n", error.c_str());
        return kExitOutputFailed;
    }
    LogMirrorToStandardError(static_cast<LOG_LEVEL>(options.verbosity));

    int result;
    {
        DisplayApi api;
        DISPLAY_CODE code = api.initialiseDisplayDriver();
        if (code != DSP_OK) {
            ExplainCode(code);
            if (options.prometheus) {
                // The metrics say that nothing could be read.
                PrometheusView::Reading reading;
                reading.code = code;
                if (!WriteMetrics(reading, output.out(), options) || !output.finish()) {
                    return kExitOutputFailed;
                }
            }
            return static_cast<int>(code);
        }
        result = options.watch        ? static_cast<int>(Watch(api, output.out(), options))
                 : options.prometheus ? Metrics(api, output.out(), options)
                                      : List(api, output.out(), options);
    }
    if (!output.finish()) {
        fprintf(stderr, "pnlmon-inventory: cannot write the output: %s\n", strerror(errno));
        return kExitOutputFailed;
    }
    return result;
}
