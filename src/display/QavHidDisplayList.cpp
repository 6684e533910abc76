#include "QavHidDisplayList.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "FlashAware.h"
#include "HidIo.h"
#include "TextEscape.h"
#include "log.h"

QavHidDisplayList::QavHidDisplayList() : displayListener(nullptr), listFailed(false)
{
    HidIo::usbInit();
    LogQuick(LEVEL_DEBUG, "QavHidDisplayList Constructed");
}

QavHidDisplayList::~QavHidDisplayList()
{
    clear();
    HidIo::usbExit();
    LogQuick(LEVEL_DEBUG, "QavHidDisplayList Destroyed");
}

void QavHidDisplayList::setDisplayListener(IDisplayListener* listener)
{
    Log(LEVEL_TRACE, "QavHidDisplayList::setDisplayListener - listener=0x%lx",
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(listener)));
    displayListener = listener;
}

void QavHidDisplayList::clearDisplayListener()
{
    LogQuick(LEVEL_TRACE, "QavHidDisplayList::clearDisplayListener");
    displayListener = nullptr;
}

namespace {
void DeleteAll(qavhiddisplay_list_t& list)
{
    for (QavHidDisplay* display : list) {
        delete display;
    }
    list.clear();
}
}  // namespace

void QavHidDisplayList::clear()
{
    LogQuick(LEVEL_DEBUG, "QavHidDisplayList::clear()");
    DeleteAll(displays);
    DeleteAll(earlier);
    prev_displays.clear();
}

bool QavHidDisplayList::enumerate(SupportedHidDisplays& supportedDisplays)
{
    // The monitors of the latest enumeration become the earlier side; after
    // a failed listing there are none, and the earlier side stays the last
    // enumeration that listed the bus.
    if (!listFailed) {
        DeleteAll(earlier);
        earlier.swap(displays);
        prev_displays.clear();
        for (QavHidDisplay* display : earlier) {
            DisplayInformation info;
            display->buildDeviceInformation(info);
            prev_displays.push_back(info);
        }
    }
    DeleteAll(displays);
    reports.clear();
    libusb_device** devs = nullptr;
    int count = HidIo::get_device_list(&devs);
    if (count < 0) {
        LogQuick(LEVEL_DEBUG, "QavHidDisplayList::enumerate - libusb_get_device_list returns no devices");
        listFailed = true;
        return false;
    }
    listFailed = false;

    int found = 0;
    for (int i = 0; i < count; ++i) {
        libusb_device_descriptor desc;
        int result = HidIo::getDeviceDescriptor(devs[i], &desc);
        if (result < 0) {
            Log(LEVEL_ERROR,
                "QavHidDisplayList::enumerate - libusb_get_device_descriptor failed, error=%i, policy is to continue "
                "discovery",
                result);
            continue;
        }
        if (supportedDisplays.findMatchingDisplay(desc.idVendor, desc.idProduct)) {
            addQavHidDisplay(devs[i]);
            ++found;
        }
    }
    // Every monitor was closed again as it was read: no device of the list
    // is needed any longer.
    HidIo::freeDeviceList(devs);
    assignKeySuffixes();
    indicateDeviceChanges();
    Log(LEVEL_TRACE, "QavHidDisplayList::enumerate added %d device(s) from %d found", getNumDisplays(), found);
    return true;
}

void QavHidDisplayList::addQavHidDisplay(libusb_device* dev)
{
    LogQuick(LEVEL_DEBUG, "QavHidDisplayList::addQavHidDisplay");
    if (FlashAware::isMonitorFlashProgramActive()) {
        LogQuick(LEVEL_DEBUG,
                 "QavHidDisplayList::addQavHidDisplay - Will not add device(s) to the list - Flash utility drivers are "
                 "active");
        LogQuick(LEVEL_DEBUG,
                 "QavHidDisplayList::addQavHidDisplay - Will re-enumerate on next user request after utility drivers "
                 "not active");
        return;
    }
    QavHidDisplay* display = new QavHidDisplay();
    bool ok = display->initialise(dev);
    if (!ok && display->isBusy()) {
        keepBusyDisplay(display);
        return;
    }
    reports.emplace_back();
    display->getReport(reports.back());
    if (ok) {
        displays.push_back(display);
        std::string id;
        display->getDeviceId(id);
        Log(LEVEL_DEBUG, "QavHidDisplayList::addQavHidDisplay - added device %s to list", TextEscape::ForLog(id).c_str());
    } else {
        LogQuick(LEVEL_ERROR, "QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init");
        delete display;
    }
}

void QavHidDisplayList::keepBusyDisplay(QavHidDisplay* busy)
{
    // The same monitor is the one at the same place with the same IDs: a
    // monitor plugged again gets a new address, and is read as new.
    QavHidDisplay* kept = nullptr;
    for (size_t i = 0; i < earlier.size(); ++i) {
        QavHidDisplay* candidate = earlier[i];
        if (candidate->getBusNumber() == busy->getBusNumber() &&
            candidate->getDeviceAddress() == busy->getDeviceAddress() &&
            candidate->getVendorId() == busy->getVendorId() && candidate->getProductId() == busy->getProductId()) {
            kept = candidate;
            earlier.erase(earlier.begin() + static_cast<long>(i));
            break;
        }
    }
    char place[64];
    snprintf(place, sizeof(place), "bus %03u device %03u (%04x:%04x)", busy->getBusNumber(),
             busy->getDeviceAddress(), busy->getVendorId(), busy->getProductId());
    if (kept == nullptr) {
        // Nothing earlier to stand for it: left out until a read succeeds,
        // which then is its arrival.
        reports.emplace_back();
        busy->getReport(reports.back());
        delete busy;
        Log(LEVEL_INFO,
            "QavHidDisplayList::addQavHidDisplay - %s is in use by another program; not read, left out until it can "
            "be read",
            place);
        return;
    }
    delete busy;
    kept->markBusy();
    reports.emplace_back();
    kept->getReport(reports.back());
    displays.push_back(kept);
    Log(LEVEL_INFO,
        "QavHidDisplayList::addQavHidDisplay - %s is in use by another program; not read, its earlier record "
        "kept",
        place);
}

void QavHidDisplayList::assignKeySuffixes()
{
    // Monitors that report the same identity (a blank identity memory reads
    // all 0xFF) would share one identifier: each new one of them gets the
    // suffix "@<place>", which is unique on the bus.
    std::map<std::string, int> reported;
    for (QavHidDisplay* display : displays) {
        ++reported[display->getReportedIdentity()];
    }
    std::map<std::string, PlacedKey> keys;
    for (QavHidDisplay* display : displays) {
        const std::string identity = display->getReportedIdentity();
        std::string suffix;
        auto earlier = placedKeys.find(display->getPlace());
        if (earlier != placedKeys.end() && earlier->second.identity == identity) {
            suffix = earlier->second.suffix;
        } else if (reported[identity] > 1) {
            suffix = "@" + display->getPlace();
        }
        display->setKeySuffix(suffix);
    }
    // Kept identifiers are unique among themselves and new ones avoid them;
    // should two still meet, the suffixes settle it.
    std::map<std::string, int> ids;
    for (QavHidDisplay* display : displays) {
        std::string id;
        display->getDeviceId(id);
        ++ids[id];
    }
    for (QavHidDisplay* display : displays) {
        std::string id;
        display->getDeviceId(id);
        if (ids[id] > 1 && display->getKeySuffix().empty()) {
            display->setKeySuffix("@" + display->getPlace());
        }
        if (!display->getKeySuffix().empty()) {
            display->getDeviceId(id);
            Log(LEVEL_DEBUG, "QavHidDisplayList::assignKeySuffixes - identity repeated, device %s at %s",
                TextEscape::ForLog(id).c_str(), display->getPlace().c_str());
        }
        keys[display->getPlace()] = PlacedKey{display->getReportedIdentity(), display->getKeySuffix()};
        if (!display->getKeySuffix().empty()) {
            // The raw report was taken before the suffix was known.
            DisplayReport own;
            display->getReport(own);
            for (DisplayReport& report : reports) {
                if (report.busNumber == own.busNumber && report.deviceAddress == own.deviceAddress) {
                    report.deviceId = own.deviceId;
                }
            }
        }
    }
    placedKeys.swap(keys);
}

void QavHidDisplayList::indicateDeviceChanges()
{
    if (prev_displays.empty() && displays.empty()) {
        return;
    }

    std::vector<std::string> currIds;
    currIds.reserve(displays.size());
    for (QavHidDisplay* display : displays) {
        std::string id;
        display->getDeviceId(id);
        currIds.push_back(id);
    }

    display_list_t gone;
    for (const DisplayInformation& prev : prev_displays) {
        std::string prevId;
        prev.getDeviceId(prevId);
        bool present = false;
        for (const std::string& currId : currIds) {
            printf("departures - compare prev %s curr %s\n", TextEscape::ForLog(prevId).c_str(),
                   TextEscape::ForLog(currId).c_str());
            if (prevId == currId) {
                present = true;
                break;
            }
        }
        if (!present) {
            printf("departures - adding prev %s to gone list\n", TextEscape::ForLog(prevId).c_str());
            gone.push_back(prev);
        }
    }

    display_list_t arrived;
    for (size_t i = 0; i < displays.size(); ++i) {
        const std::string& currId = currIds[i];
        bool present = false;
        for (const DisplayInformation& prev : prev_displays) {
            std::string prevId;
            prev.getDeviceId(prevId);
            printf("arrivals - compare curr %s prev %s\n", TextEscape::ForLog(currId).c_str(),
                   TextEscape::ForLog(prevId).c_str());
            if (prevId == currId) {
                present = true;
                break;
            }
        }
        if (!present) {
            DisplayInformation info;
            displays[i]->buildDeviceInformation(info);
            arrived.push_back(info);
        }
    }

    if (gone.empty() && arrived.empty()) {
        LogQuick(LEVEL_DEBUG, "QavHidDisplayList::indicateDeviceChanges - No device changes");
        return;
    }
    for (const DisplayInformation& info : gone) {
        std::string id;
        info.getDeviceId(id);
        Log(LEVEL_DEBUG, "QavHidDisplayList::indicateDeviceChanges - Device Gone %s", TextEscape::ForLog(id).c_str());
        printf("************* GONE %s **************\n", TextEscape::ForLog(id).c_str());
        if (displayListener != nullptr) {
            displayListener->DisplayDeleted(info);
        }
    }
    for (const DisplayInformation& info : arrived) {
        std::string id;
        info.getDeviceId(id);
        Log(LEVEL_DEBUG, "QavHidDisplayList::indicateDeviceChanges - Device Arrived %s", TextEscape::ForLog(id).c_str());
        printf("************* ARRIVED %s **************\n", TextEscape::ForLog(id).c_str());
        if (displayListener != nullptr) {
            displayListener->DisplayCreated(info);
        }
    }
}

int QavHidDisplayList::getNumDisplays()
{
    return static_cast<int>(displays.size());
}

QavHidDisplay* QavHidDisplayList::getDisplayAt(int index)
{
    if (index < 0 || index >= getNumDisplays()) {
        return nullptr;
    }
    return displays[static_cast<size_t>(index)];
}
