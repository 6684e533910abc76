#include "QavDisplayList.h"

#include <memory>
#include <new>

#include "TextEscape.h"
#include "log.h"

QavDisplayList::QavDisplayList()
{
    timeAtLastReading.tv_sec = 0;
    timeAtLastReading.tv_usec = 0;
    LogQuick(LEVEL_DEBUG, "QavDisplayList constructed");
}

QavDisplayList::~QavDisplayList()
{
    clear();
    LogQuick(LEVEL_DEBUG, "QavDisplayList destroyed");
}

void QavDisplayList::clear()
{
    for (QAV_Display* display : qavDisplays) {
        delete display;
    }
    qavDisplays.clear();
    LogQuick(LEVEL_TRACE, "QavDisplayList::clear");
}

int QavDisplayList::getNumDisplays() const
{
    return static_cast<int>(qavDisplays.size());
}

QAV_Display* QavDisplayList::getDisplayAt(int index) const
{
    if (index < 0 || index >= getNumDisplays()) {
        return nullptr;
    }
    return qavDisplays[static_cast<size_t>(index)];
}

void QavDisplayList::addDisplay(QAV_Display* display)
{
    if (display == nullptr) {
        return;
    }
    try {
        qavDisplays.push_back(display);
    } catch (...) {
        delete display;
        throw;
    }
}

std::string QavDisplayList::ClientText(const std::string& text)
{
    return TextEscape::ForCim(text);
}

str_list_t QavDisplayList::ClientTexts(const str_list_t& texts)
{
    str_list_t out;
    out.reserve(texts.size());
    for (const std::string& text : texts) {
        out.push_back(ClientText(text));
    }
    return out;
}

void QavDisplayList::populateDisplay(QAV_Display* display, const DisplayInformation& record) const
{
    LogQuick(LEVEL_TRACE, "QavDisplayList::populateDisplay");
    std::string deviceId = ClientText(record.physicalDeviceName + "-" + record.modelName + "-" +
                                      record.serialNumber);
    std::string text = "Vostran Display: " + deviceId;
    display->setDeviceID(deviceId);
    display->setCaption(text);
    display->setDescription(text);
    display->setBus(ClientText(record.bus));
    display->setDeviceCategory(ClientText(record.deviceCategory));
    display->setFirmwareRevision(ClientText(record.firmwareRevision));
    display->setManufactureDate(ClientText(record.manufactureDate));
    display->setManufacturerName(ClientText(record.manufacturerName));
    display->setMechanicalRevision(ClientText(record.mechanicalRevision));
    display->setPhysicalDeviceName(ClientText(record.physicalDeviceName));
    display->setModelName(ClientText(record.modelName));
    display->setSerialNumber(ClientText(record.serialNumber));
    display->setHorizontalScreenSize(record.horizontalScreenSize);
    display->setVerticalScreenSize(record.verticalScreenSize);
    display->setHorizontalResolution(record.horizontalResolution);
    display->setVerticalResolution(record.verticalResolution);
    display->setRefreshRate(record.refreshRate);
    display->setSupportedResolutionsAndRefreshRates(ClientTexts(record.supportedResolutionsAndRefreshRates));
    display->setPreferredResolutionAndRefreshRate(ClientText(record.preferredResolutionAndRefreshRate));
    display->setDisplayTechnology(record.displayTechnology);
    display->setScanMode(record.scanMode);
    display->setSupportsColor(record.supportsColor);
    display->setSupportedVideoSources(ClientTexts(record.supportedVideoSources));
    display->setCurrentVideoSource(ClientText(record.currentVideoSource));
    display->setLightSourceType(record.lightSourceType);
    display->setLightSourceIlluminationType(record.lightSourceIlluminationType);
    display->setLightSourceCount(record.lightSourceCount);
    display->setRecommendedBrightnessLevel(record.recommendedBrightnessLevel);
    display->setCurrentBrightnessLevel(record.currentBrightnessLevel);
    display->setBacklightState(record.backlightState);
    display->setHoursPoweredCount(record.hoursPoweredCount);
    display->setCurrentBacklightPowerOnHours(record.currentBacklightPowerOnHours);
    display->setPowerManagementModes(ClientTexts(record.powerManagementModes));
}

void QavDisplayList::buildDisplayList(const DisplayInformationList& records)
{
    LogQuick(LEVEL_TRACE, "QavDisplayList::buildDisplayList");
    for (const DisplayInformation& record : records) {
        std::unique_ptr<QAV_Display> display(new (std::nothrow) QAV_Display());
        if (!display) {
            LogQuick(LEVEL_ERROR, "QavDisplayList::buildDisplayList - allocating QAV_Display failed");
            continue;
        }
        populateDisplay(display.get(), record);
        addDisplay(display.release());
    }
}
