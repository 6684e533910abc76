#include "PrometheusView.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "ByteText.h"

namespace {

const int kUsbErrorBusy = -6;  // LIBUSB_ERROR_BUSY

// One metric family: its header and samples, written only when it has a
// sample.
class Family {
public:
    Family(const char* name, const char* type, const char* help) : name(name), type(type), help(help) {}

    void add(const std::string& labels, const std::string& value)
    {
        samples += name;
        if (!labels.empty()) {
            samples += "{" + labels + "}";
        }
        samples += " " + value + "\n";
    }

    void writeTo(std::string& text) const
    {
        if (samples.empty()) {
            return;
        }
        text += std::string("# HELP ") + name + " " + help + "\n";
        text += std::string("# TYPE ") + name + " " + type + "\n";
        text += samples;
    }

private:
    const char* name;
    const char* type;
    const char* help;
    std::string samples;
};

std::string Number(unsigned long long value)
{
    return std::to_string(value);
}

std::string Decimal(double value)
{
    char text[64];
    snprintf(text, sizeof(text), "%.9g", value);
    return text;
}

std::string Label(const char* name, const std::string& bytes)
{
    return std::string(name) + "=\"" + PrometheusView::LabelValue(bytes) + "\"";
}

std::string Hex4(unsigned value)
{
    char text[8];
    snprintf(text, sizeof(text), "%04x", value & 0xFFFFu);
    return text;
}

// The preferred mode as the EDID decoder writes it, "1024 x 768 @ 60Hz".
bool ParseMode(const std::string& text, unsigned& width, unsigned& height, unsigned& rate)
{
    char end = 0;
    return sscanf(text.c_str(), "%u x %u @ %uHz%c", &width, &height, &rate, &end) >= 3;
}

}  // namespace

bool PrometheusView::IsBusy(const DisplayReport& report)
{
    return report.state == DisplayReport::BUSY ||
           (report.state == DisplayReport::CLAIM_FAILED && report.usbError == kUsbErrorBusy);
}

bool PrometheusView::Succeeded(const Reading& reading)
{
    if (reading.code != DSP_OK && reading.code != DSP_NO_DEVICES) {
        return false;
    }
    for (const DisplayReport& report : reading.reports) {
        if (report.state != DisplayReport::READ && !IsBusy(report)) {
            return false;
        }
    }
    return true;
}

std::string PrometheusView::LabelValue(const std::string& bytes)
{
    const std::string shown = ByteText::ForTerminal(bytes);
    std::string out;
    out.reserve(shown.size() + 8);
    for (char c : shown) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;  // ForTerminal leaves none; kept for safety
        default: out += c; break;
        }
    }
    return out;
}

PrometheusView::Reading PrometheusView::Read(DisplayApi& api)
{
    Reading reading;
    const auto start = std::chrono::steady_clock::now();
    reading.code = api.getDisplayInformationList(reading.records);
    api.getDisplayReports(reading.reports);
    reading.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (reading.code != DSP_OK && reading.code != DSP_NO_DEVICES) {
        // Reports of an earlier enumeration describe nothing of this one.
        reading.reports.clear();
    }
    return reading;
}

std::string PrometheusView::Format(const Reading& reading)
{
    Family success("pnlmon_read_success", "gauge",
                   "1 when the USB bus was listed and every supported monitor on it was read (monitors held by "
                   "another program excepted), else 0.");
    Family duration("pnlmon_read_duration_seconds", "gauge", "How long listing the bus and reading the monitors took.");
    Family flash("pnlmon_flash_utility_running", "gauge",
                 "1 when a monitor firmware-flash utility was running, so the monitors were left alone.");
    Family attached("pnlmon_monitors_attached", "gauge", "Supported monitors found on the USB bus.");
    Family busy("pnlmon_monitors_busy", "gauge", "Supported monitors not read because another program holds them.");
    Family unreadable("pnlmon_monitors_unreadable", "gauge",
                      "Supported monitors that could not be read for another reason (permission, USB or report "
                      "failure).");
    Family info("pnlmon_monitor_info", "gauge", "Identity of a monitor that was read; the value is always 1.");
    Family powerOn("pnlmon_monitor_power_on_seconds_total", "counter",
                   "Time the monitor has been powered on, as counted by the monitor (whole hours).");
    Family backlightOn("pnlmon_monitor_backlight_on_seconds_total", "counter",
                       "Time the monitor's backlight has been on, as counted by the monitor (whole hours).");
    Family fault("pnlmon_monitor_backlight_fault", "gauge", "1 when the monitor reports a backlight fault, 0 when ok.");
    Family brightness("pnlmon_monitor_brightness_ratio", "gauge",
                      "Backlight brightness, 1 being 100 percent (as reported, not clamped).");
    Family width("pnlmon_monitor_mode_width_pixels", "gauge", "Width of the current video mode.");
    Family height("pnlmon_monitor_mode_height_pixels", "gauge", "Height of the current video mode.");
    Family refresh("pnlmon_monitor_mode_refresh_hertz", "gauge", "Refresh rate of the current video mode.");
    Family preferred("pnlmon_monitor_mode_preferred", "gauge",
                     "1 when the current video mode is the monitor's preferred mode (from its EDID), else 0.");

    const bool listed = reading.code == DSP_OK || reading.code == DSP_NO_DEVICES;
    success.add("", Succeeded(reading) ? "1" : "0");
    duration.add("", Decimal(reading.seconds));
    flash.add("", reading.code == DSP_FLASH_IN_PROGRESS ? "1" : "0");
    if (listed) {
        size_t busyCount = 0;
        size_t failed = 0;
        for (const DisplayReport& report : reading.reports) {
            if (IsBusy(report)) {
                ++busyCount;
            } else if (report.state != DisplayReport::READ) {
                ++failed;
            }
        }
        attached.add("", Number(reading.reports.size()));
        busy.add("", Number(busyCount));
        unreadable.add("", Number(failed));
    }

    std::vector<bool> used(reading.reports.size(), false);
    std::map<std::string, int> seen;
    if (listed) {
        for (const DisplayInformation& d : reading.records) {
            std::string id;
            d.getDeviceId(id);
            // Its place on the bus: the unused read report of the same identifier.
            const DisplayReport* usb = nullptr;
            for (size_t i = 0; i < reading.reports.size(); ++i) {
                if (!used[i] && reading.reports[i].state == DisplayReport::READ && reading.reports[i].deviceId == id) {
                    used[i] = true;
                    usb = &reading.reports[i];
                    break;
                }
            }
            // Two monitors with one identifier (a blank or copied identity
            // memory) must still give distinct series.
            std::string key = Label("device_id", id);
            int n = ++seen[id];
            if (n > 1) {
                key += ",duplicate=\"" + std::to_string(n) + "\"";
            }
            std::string labels = key;
            labels += "," + Label("manufacturer", d.manufacturerName);
            labels += "," + Label("machine_type", d.physicalDeviceName);
            labels += "," + Label("model", d.modelName);
            labels += "," + Label("serial", d.serialNumber);
            labels += "," + Label("firmware", d.firmwareRevision);
            labels += "," + Label("video_source", d.currentVideoSource);
            labels += std::string(",bus=\"") + (usb ? Number(usb->busNumber) : "") + "\"";
            labels += std::string(",device=\"") + (usb ? Number(usb->deviceAddress) : "") + "\"";
            labels += ",usb_id=\"" + (usb ? Hex4(usb->vendorId) + ":" + Hex4(usb->productId) : std::string()) + "\"";
            info.add(labels, "1");

            powerOn.add(key, Number(d.hoursPoweredCount * 3600ull));
            backlightOn.add(key, Number(static_cast<unsigned long long>(d.currentBacklightPowerOnHours) * 3600ull));
            if (d.backlightState == 1 || d.backlightState == 2) {
                fault.add(key, d.backlightState == 2 ? "1" : "0");
            }
            brightness.add(key, Decimal(d.currentBrightnessLevel / 100.0));
            if (d.horizontalResolution != 0 && d.verticalResolution != 0) {
                width.add(key, Number(d.horizontalResolution));
                height.add(key, Number(d.verticalResolution));
                refresh.add(key, Number(d.refreshRate));
                unsigned w = 0, h = 0, r = 0;
                if (ParseMode(d.preferredResolutionAndRefreshRate, w, h, r)) {
                    bool same = w == d.horizontalResolution && h == d.verticalResolution && r == d.refreshRate;
                    preferred.add(key, same ? "1" : "0");
                }
            }
        }
    }

    std::string text;
    for (const Family* family : {&success, &duration, &flash, &attached, &busy, &unreadable, &info, &powerOn,
                                 &backlightOn, &fault, &brightness, &width, &height, &refresh, &preferred}) {
        family->writeTo(text);
    }
    return text;
}
