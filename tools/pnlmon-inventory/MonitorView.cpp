#include "MonitorView.h"

#include <cstdio>

#include "ByteText.h"
#include "HexDumpText.h"

namespace {

// libusb's LIBUSB_ERROR_ACCESS, as DisplayReport::usbError carries it.
const int kUsbErrorAccess = -3;
const int kUsbErrorNoDevice = -4;
const int kUsbErrorBusy = -6;

std::string Join(const str_list_t& list, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        text += (i > 0 ? separator : "") + ByteText::ForTerminal(list[i]);
    }
    return text;
}

std::string WithCode(const char* word, uint16_t code)
{
    return std::string(word) + " (" + std::to_string(code) + ")";
}

std::string HexText(const std::vector<unsigned char>& bytes)
{
    return ByteText::Hex(std::string(bytes.begin(), bytes.end()));
}

}  // namespace

MonitorView::MonitorView(const DisplayInformation* record, const DisplayReport* report) : info(record), usb(report) {}

void MonitorView::setHolder(pid_t pid, const std::string& name)
{
    holderPid = pid;
    holderName = name;
}

bool MonitorView::busy() const
{
    return usb != nullptr && usb->state == DisplayReport::BUSY;
}

std::string MonitorView::reasonText() const
{
    if (usb == nullptr) {
        return "not read";
    }
    std::string text = FailureText(*usb);
    if (busy() && holderPid > 0) {
        text += " (pid " + std::to_string(holderPid) + ", " + ByteText::ForTerminal(holderName) + ")";
    }
    return text;
}

std::string MonitorView::busyLine() const
{
    std::string place = busDevice();
    if (place.size() < 7) {
        return reasonText();
    }
    return "bus " + place.substr(0, 3) + " device " + place.substr(4) + " (" + vendorProduct() + "): " + reasonText();
}

std::string MonitorView::deviceId() const
{
    std::string id;
    if (info != nullptr) {
        info->getDeviceId(id);
    } else if (usb != nullptr) {
        id = usb->deviceId;
    }
    return id;
}

std::string MonitorView::busDevice() const
{
    if (usb == nullptr) {
        return "";
    }
    char text[16];
    snprintf(text, sizeof(text), "%03u:%03u", usb->busNumber, usb->deviceAddress);
    return text;
}

std::string MonitorView::vendorProduct() const
{
    if (usb == nullptr) {
        return "";
    }
    char text[16];
    snprintf(text, sizeof(text), "%04x:%04x", usb->vendorId, usb->productId);
    return text;
}

const char* MonitorView::DisplayTechnologyText(uint16_t code)
{
    // The flat-panel display-type values of the CIM schema.
    switch (code) {
    case 0: return "unknown";
    case 1: return "other";
    case 2: return "passive-matrix LCD";
    case 3: return "active-matrix LCD";
    case 4: return "cholesteric LCD";
    case 5: return "field emission";
    case 6: return "electroluminescent";
    case 7: return "gas plasma";
    case 8: return "LED";
    default: return "unlisted";
    }
}

const char* MonitorView::ScanModeText(uint16_t code)
{
    switch (code) {
    case 0: return "unknown";
    case 1: return "other";
    case 2: return "single scan";
    case 3: return "dual scan";
    default: return "unlisted";
    }
}

const char* MonitorView::BacklightText(uint16_t state)
{
    switch (state) {
    case 1: return "ok";
    case 2: return "fault";
    default: return "unknown";
    }
}

std::string MonitorView::ModeText(const std::string& edidMode)
{
    unsigned int width = 0, height = 0, rate = 0;
    char rest[32] = "";
    int got = sscanf(edidMode.c_str(), "%u x %u @ %uHz%31[^\n]", &width, &height, &rate, rest);
    if (got < 3) {
        return ByteText::ForTerminal(edidMode);
    }
    std::string text = std::to_string(width) + "x" + std::to_string(height) + " @ " + std::to_string(rate) + " Hz";
    if (got == 4) {
        text += ByteText::ForTerminal(rest);
    }
    return text;
}

std::string MonitorView::CurrentModeText(const DisplayInformation& d)
{
    return std::to_string(d.horizontalResolution) + "x" + std::to_string(d.verticalResolution) + " @ " +
           std::to_string(d.refreshRate) + " Hz";
}

std::string MonitorView::FailureText(const DisplayReport& report)
{
    switch (report.state) {
    case DisplayReport::READ:
        return "read";
    case DisplayReport::DESCRIPTOR_FAILED:
        return "its USB descriptors could not be read";
    case DisplayReport::OPEN_FAILED:
        if (report.usbError == kUsbErrorAccess) {
            return "permission denied opening its device node";
        }
        if (report.usbError == kUsbErrorNoDevice) {
            return "it left the bus while being opened";
        }
        return "its device node could not be opened (libusb error " + std::to_string(report.usbError) + ")";
    case DisplayReport::CLAIM_FAILED:
        return report.usbError == kUsbErrorBusy ? "its interface is in use by another program"
                                                 : "its interface could not be claimed";
    case DisplayReport::REPORT_FAILED:
        return "it did not answer every report request";
    case DisplayReport::BUSY:
        return "in use by another program";
    default:
        return "state " + std::to_string(report.state);
    }
}

std::string MonitorView::detailed(bool withReports) const
{
    struct Row {
        const char* title;
        std::string value;
    };
    std::vector<Row> rows;
    rows.push_back({"Device ID", ByteText::ForTerminal(deviceId())});
    if (usb != nullptr) {
        rows.push_back({"USB", "bus " + busDevice().substr(0, 3) + " device " + busDevice().substr(4) + ", ID " +
                                   vendorProduct()});
    }
    if (info == nullptr) {
        rows.push_back({"State", usb != nullptr ? "not read: " + reasonText() : "not read"});
    } else {
        const DisplayInformation& d = *info;
        rows.push_back({"Manufacturer", ByteText::ForTerminal(d.manufacturerName)});
        rows.push_back({"Manufacture date", ByteText::ForTerminal(d.manufactureDate)});
        rows.push_back({"Firmware", ByteText::ForTerminal(d.firmwareRevision)});
        rows.push_back({"Display technology", WithCode(DisplayTechnologyText(d.displayTechnology), d.displayTechnology)});
        rows.push_back({"Scan mode", WithCode(ScanModeText(d.scanMode), d.scanMode)});
        rows.push_back({"Light source", "type " + std::to_string(d.lightSourceType) + ", illumination type " +
                                            std::to_string(d.lightSourceIlluminationType) + ", " +
                                            std::to_string(d.lightSourceCount) + " sources"});
        rows.push_back({"Recommended brightness", std::to_string(d.recommendedBrightnessLevel)});
        rows.push_back({"Brightness", std::to_string(d.currentBrightnessLevel) + "%"});
        rows.push_back({"Backlight", BacklightText(d.backlightState)});
        rows.push_back({"Hours powered", std::to_string(d.hoursPoweredCount)});
        rows.push_back({"Backlight hours", std::to_string(d.currentBacklightPowerOnHours)});
        rows.push_back({"Video source", ByteText::ForTerminal(d.currentVideoSource)});
        rows.push_back({"Video inputs", Join(d.supportedVideoSources, ", ")});
        rows.push_back({"Current mode", CurrentModeText(d)});
        rows.push_back({"Preferred mode", ModeText(d.preferredResolutionAndRefreshRate)});
        rows.push_back({"Screen size", std::to_string(d.horizontalScreenSize) + " x " +
                                           std::to_string(d.verticalScreenSize) + " mm"});
        rows.push_back({"Colour", d.supportsColor ? "yes" : "no"});
    }
    std::string text;
    for (const Row& row : rows) {
        char title[32];
        snprintf(title, sizeof(title), "%-24s", row.title);
        text += title + row.value + "\n";
    }
    if (withReports && usb != nullptr) {
        const struct {
            const char* name;
            const std::vector<unsigned char>* bytes;
        } reports[] = {{"Inventory report", &usb->inventoryReport}, {"EDID", &usb->edid}, {"OSD report", &usb->osdReport}};
        for (const auto& report : reports) {
            text += std::string(report.name) + " (" + std::to_string(report.bytes->size()) + " bytes)" +
                    (report.bytes->empty() ? " not read\n" : ":\n");
            text += HexDumpText::Format(report.bytes->data(), report.bytes->size(), "  ");
        }
    }
    return text;
}

std::string MonitorView::line() const
{
    std::string text;
    if (usb != nullptr) {
        text = "Bus " + busDevice().substr(0, 3) + " Device " + busDevice().substr(4) + ": ID " + vendorProduct() + " ";
    }
    if (info == nullptr) {
        return text + (usb != nullptr ? "not read: " + reasonText() : "not read");
    }
    const DisplayInformation& d = *info;
    return text + ByteText::ForTerminal(deviceId()) + ", " + ByteText::ForTerminal(d.manufacturerName) +
           ", firmware " + ByteText::ForTerminal(d.firmwareRevision) + ", " + CurrentModeText(d) + " on " +
           ByteText::ForTerminal(d.currentVideoSource) + ", " + std::to_string(d.hoursPoweredCount) + " h, backlight " +
           BacklightText(d.backlightState);
}

nlohmann::json MonitorView::json(bool withReports) const
{
    nlohmann::json j;
    if (info != nullptr) {
        const DisplayInformation& d = *info;
        j["deviceId"] = deviceId();
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
    }
    if (usb != nullptr) {
        j["usb"] = {{"bus", usb->busNumber},
                    {"device", usb->deviceAddress},
                    {"vendorId", vendorProduct().substr(0, 4)},
                    {"productId", vendorProduct().substr(5)}};
        if (busy()) {
            j["state"] = "busy";
            if (holderPid > 0) {
                j["holderPid"] = holderPid;
                j["holderName"] = holderName;
            }
        }
        if (withReports) {
            j["reports"] = {{"inventory", HexText(usb->inventoryReport)},
                            {"edid", HexText(usb->edid)},
                            {"osd", HexText(usb->osdReport)}};
        }
    }
    return j;
}
