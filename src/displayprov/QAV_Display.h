// One attached monitor as the values of the CIM class QAV_Display, able to
// turn itself into a CMPI object path or a complete instance in
// "root/cimv2".
#ifndef PNLMON_QAV_DISPLAY_H
#define PNLMON_QAV_DISPLAY_H

#include <cstdint>
#include <string>
#include <utility>

#include "cmpidt.h"
#include "display.h"

class QAV_Display {
public:
    QAV_Display();
    virtual ~QAV_Display();
    QAV_Display(const QAV_Display&) = delete;
    QAV_Display& operator=(const QAV_Display&) = delete;

    const std::string& getDeviceID() const { return deviceID; }

    void setDeviceID(std::string value) { deviceID = std::move(value); }
    void setBus(std::string value) { bus = std::move(value); }
    void setDeviceCategory(std::string value) { deviceCategory = std::move(value); }
    void setFirmwareRevision(std::string value) { firmwareRevision = std::move(value); }
    void setManufactureDate(std::string value) { manufactureDate = std::move(value); }
    void setManufacturerName(std::string value) { manufacturerName = std::move(value); }
    void setMechanicalRevision(std::string value) { mechanicalRevision = std::move(value); }
    void setPhysicalDeviceName(std::string value) { physicalDeviceName = std::move(value); }
    void setModelName(std::string value) { modelName = std::move(value); }
    void setSerialNumber(std::string value) { serialNumber = std::move(value); }
    void setHorizontalScreenSize(uint32_t value) { horizontalScreenSize = value; }
    void setVerticalScreenSize(uint32_t value) { verticalScreenSize = value; }
    void setHorizontalResolution(uint32_t value) { horizontalResolution = value; }
    void setVerticalResolution(uint32_t value) { verticalResolution = value; }
    void setRefreshRate(uint32_t value) { refreshRate = value; }
    void setSupportedResolutionsAndRefreshRates(str_list_t values);
    void setPreferredResolutionAndRefreshRate(std::string value)
    {
        preferredResolutionAndRefreshRate = std::move(value);
    }
    void setDisplayTechnology(uint16_t value) { displayTechnology = value; }
    void setScanMode(uint16_t value) { scanMode = value; }
    void setSupportsColor(bool value) { supportsColor = value; }
    void setSupportedVideoSources(str_list_t values);
    void setCurrentVideoSource(std::string value) { currentVideoSource = std::move(value); }
    void setLightSourceType(uint16_t value) { lightSourceType = value; }
    void setLightSourceIlluminationType(uint16_t value) { lightSourceIlluminationType = value; }
    void setLightSourceCount(uint16_t value) { lightSourceCount = value; }
    void setRecommendedBrightnessLevel(uint16_t value) { recommendedBrightnessLevel = value; }
    void setCurrentBrightnessLevel(uint16_t value) { currentBrightnessLevel = value; }
    void setBacklightState(uint16_t value) { backlightState = value; }
    void setHoursPoweredCount(uint64_t value) { hoursPoweredCount = value; }
    void setCurrentBacklightPowerOnHours(uint32_t value) { currentBacklightPowerOnHours = value; }
    void setPowerManagementModes(str_list_t values);
    void setCaption(std::string value) { caption = std::move(value); }
    void setDescription(std::string value) { description = std::move(value); }

    // New broker objects; a failed broker call raises a CmpiException.
    CMPIObjectPath* getObjectPath(const CMPIBroker* broker) const;
    CMPIInstance* getInstance(const CMPIBroker* broker) const;

private:
    std::string deviceID;
    std::string bus;
    std::string deviceCategory;
    std::string firmwareRevision;
    std::string manufactureDate;
    std::string manufacturerName;
    std::string mechanicalRevision;
    std::string physicalDeviceName;
    std::string modelName;
    std::string serialNumber;
    uint32_t horizontalScreenSize = 0;
    uint32_t verticalScreenSize = 0;
    uint32_t horizontalResolution = 0;
    uint32_t verticalResolution = 0;
    uint32_t refreshRate = 0;
    str_list_t supportedResolutionsAndRefreshRates;
    std::string preferredResolutionAndRefreshRate;
    uint16_t displayTechnology = 0;
    uint16_t scanMode = 0;
    bool supportsColor = false;
    str_list_t supportedVideoSources;
    std::string currentVideoSource;
    uint16_t lightSourceType = 0;
    uint16_t lightSourceIlluminationType = 0;
    uint16_t lightSourceCount = 0;
    uint16_t recommendedBrightnessLevel = 0;
    uint16_t currentBrightnessLevel = 0;
    uint16_t backlightState = 0;
    uint64_t hoursPoweredCount = 0;
    uint32_t currentBacklightPowerOnHours = 0;
    str_list_t powerManagementModes;
    std::string caption;
    std::string creationClassName;
    std::string description;
    std::string systemName;
    std::string systemCreationClassName;
};

#endif
