// Attributes a monitor does not report but that follow from its product
// family: display technology, scan mode, backlight kind and count, the
// recommended brightness and the video inputs it has.
#ifndef PNLMON_DEVICEDATA_H
#define PNLMON_DEVICEDATA_H

#include "Inventory.h"
#include "SupportedMonitorTable.h"
#include "display.h"

class DeviceData {
public:
    // Family codes of device, as in the supported-monitor table.
    static constexpr unsigned short kUnknown = SupportedMonitorTable::kFamilyUnknown;
    static constexpr unsigned short kTilo = SupportedMonitorTable::kFamilyTilo;
    static constexpr unsigned short kMerv = SupportedMonitorTable::kFamilyMerv;
    static constexpr unsigned short kSarn = SupportedMonitorTable::kFamilySarn;

    DeviceData();
    virtual ~DeviceData();

    // Recomputes every attribute from the decoded inventory (which supplies
    // the vendor and product id) and the monitor's USB product id.
    void setData(Inventory& inventory, unsigned short pid);

    // The family's name ("Tilo", "Merv", "Sarn"), or "unknown".
    const char* familyName() const;

    unsigned short device;
    unsigned short displayTechnology;
    unsigned short scanMode;
    unsigned short lightSourceType;
    unsigned short lightSourceIlluminationType;
    unsigned short lightSourceCount;
    unsigned short recommendedBrightnessLevel;
    str_list_t supportedVideoSources;

private:
    void clear();
    bool isTilo();
    bool isMerv();
    bool isSarn();
    void setDevice(Inventory& inventory, unsigned short pid);
    void setDisplayTechnology(Inventory& inventory);
    void setScanMode(Inventory& inventory);
    void setLightSourceType(unsigned short pid);
    void setLightSourceIlluminationType(unsigned short pid);
    void setLightSourceCount(unsigned short pid);
    void setRecommendedBrightnessLevel(Inventory& inventory);
    void setSupportedVideoSources(Inventory& inventory);
    void ___dump();
};

#endif
