// Public interface of libvexdisplay: the driver API, its result codes, the
// per-monitor record and the listener for arrivals and departures.
#ifndef PNLMON_DISPLAY_H
#define PNLMON_DISPLAY_H

#include <cstdint>
#include <string>
#include <vector>

#ifndef PNLMON_EXPORT
#define PNLMON_EXPORT __attribute__((visibility("default")))
#endif

typedef std::vector<std::string> str_list_t;

enum DISPLAY_CODE : int {
    DSP_OK = 0,
    DSP_NOT_INITIALISED = 1,
    DSP_INTERNAL_ERROR = 2,
    DSP_ENUMERATION_IN_PROGRESS = 3,
    DSP_ENUM_FAILED = 4,
    DSP_NO_DEVICES = 5,
    DSP_UPDATE_FAILED = 6,
    DSP_NO_HID_DRIVER = 7,
    DSP_FLASH_FAILED = 8,
    DSP_NOT_IMPL = 9,
    DSP_BAD_ID = 10,
    DSP_FLASH_IN_PROGRESS = 11
};

// Everything the driver reports about one attached monitor.
class DisplayInformation {
public:
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

    // The device identifier: machine type, model and serial number joined
    // by hyphens.
    void getDeviceId(std::string& devId) const {
        devId = physicalDeviceName + "-" + modelName + "-" + serialNumber;
    }
};

typedef std::vector<DisplayInformation> display_list_t;

class DisplayInformationList : public display_list_t {
};

// Told of monitor arrivals and departures, on the thread that enumerates.
class PNLMON_EXPORT IDisplayListener {
public:
    IDisplayListener() {}
    virtual ~IDisplayListener() {}
    virtual void DisplayCreated(DisplayInformation info) = 0;
    virtual void DisplayDeleted(DisplayInformation info) = 0;
};

class DisplayManager;

class PNLMON_EXPORT DisplayApi {
public:
    DisplayApi();
    ~DisplayApi();
    DisplayApi(const DisplayApi&) = delete;
    DisplayApi& operator=(const DisplayApi&) = delete;

    DISPLAY_CODE initialiseDisplayDriver();
    DISPLAY_CODE getDisplayInformationList(DisplayInformationList& list);
    void setDisplayListener(IDisplayListener* listener);
    void clearDisplayListener();

private:
    bool init;
    DisplayManager* manager;
};

// Identification strings, found by looking at the library file or at a
// process's memory.
extern "C" {
PNLMON_EXPORT extern char EyeCatcher1[4];
PNLMON_EXPORT extern char PnlmonlVersion[26];
PNLMON_EXPORT extern char BuildDate[33];
PNLMON_EXPORT extern char ExtraInfo[1];
PNLMON_EXPORT extern char EyeCatcher2[4];
}

#endif
