#include "ScriptedDriver.h"

#include <new>

ScriptedDriver& ScriptedDriver::instance()
{
    static ScriptedDriver driver;
    return driver;
}

DisplayInformation MakeRecord(const std::string& machine, const std::string& model,
                              const std::string& serial)
{
    DisplayInformation r;
    r.bus = "USB";
    r.deviceCategory = "Display";
    r.firmwareRevision = "0105";
    r.manufactureDate = "2014-05";
    r.manufacturerName = "ABC";
    r.mechanicalRevision = "Uknown";
    r.physicalDeviceName = machine;
    r.modelName = model;
    r.serialNumber = serial;
    r.horizontalScreenSize = 304;
    r.verticalScreenSize = 228;
    r.horizontalResolution = 1024;
    r.verticalResolution = 768;
    r.refreshRate = 60;
    r.supportedResolutionsAndRefreshRates = {"640x480@60", "800x600@60", "1024x768@60"};
    r.preferredResolutionAndRefreshRate = "1024x768@60";
    r.displayTechnology = 2;
    r.scanMode = 1;
    r.supportsColor = true;
    r.supportedVideoSources = {"VGA", "DisplayPort"};
    r.currentVideoSource = "VGA";
    r.lightSourceType = 3;
    r.lightSourceIlluminationType = 4;
    r.lightSourceCount = 2;
    r.recommendedBrightnessLevel = 80;
    r.currentBrightnessLevel = 75;
    r.backlightState = 1;
    r.hoursPoweredCount = 0x12345678ull;
    r.currentBacklightPowerOnHours = 4242;
    r.powerManagementModes = {"Standby", "Suspend", "Active Off"};
    return r;
}

// ----- DisplayApi, answering from the script -------------------------------

DisplayApi::DisplayApi() : init(false), manager(nullptr)
{
    ++ScriptedDriver::instance().constructed;
}

DisplayApi::~DisplayApi()
{
    ScriptedDriver& d = ScriptedDriver::instance();
    (void)manager;  // the stand-in keeps no manager
    ++d.destroyed;
    d.listener = nullptr;
}

DISPLAY_CODE DisplayApi::initialiseDisplayDriver()
{
    if (ScriptedDriver::instance().initThrows) {
        throw std::bad_alloc();
    }
    if (!init) {
        DISPLAY_CODE code = ScriptedDriver::instance().initResult;
        init = code == DSP_OK;
        return code;
    }
    return DSP_OK;
}

DISPLAY_CODE DisplayApi::getDisplayInformationList(DisplayInformationList& list)
{
    ScriptedDriver& d = ScriptedDriver::instance();
    if (!init) {
        return DSP_NOT_INITIALISED;
    }
    ++d.enumerations;
    if (d.listener != nullptr) {
        for (const DisplayInformation& r : d.deleted) {
            d.listener->DisplayDeleted(r);
        }
        for (const DisplayInformation& r : d.created) {
            d.listener->DisplayCreated(r);
        }
    }
    d.created.clear();
    d.deleted.clear();
    if (d.listResult == DSP_OK) {
        list.insert(list.end(), d.records.begin(), d.records.end());
    }
    return d.listResult;
}

void DisplayApi::setDisplayListener(IDisplayListener* listener)
{
    ScriptedDriver& d = ScriptedDriver::instance();
    ++d.setListenerCalls;
    if (init) {
        d.listener = listener;
    }
}

void DisplayApi::clearDisplayListener()
{
    ScriptedDriver& d = ScriptedDriver::instance();
    ++d.clearListenerCalls;
    if (init) {
        d.listener = nullptr;
    }
}

bool DisplayApi::announceChangesImmediately()
{
    return ScriptedDriver::instance().announceImmediately;
}

// ----- DisplayChangeWatcher, recording its listener --------------------------

DisplayChangeWatcher::DisplayChangeWatcher() : watcher(nullptr)
{
}

DisplayChangeWatcher::~DisplayChangeWatcher()
{
    stop();
}

DISPLAY_CODE DisplayChangeWatcher::start(IDisplayChangeListener* listener)
{
    ScriptedDriver& d = ScriptedDriver::instance();
    ++d.watchStarts;
    if (d.watchResult == DSP_OK) {
        d.changeListener = listener;
        watcher = reinterpret_cast<HotplugWatcher*>(listener);  // marks "watching"
    }
    return d.watchResult;
}

void DisplayChangeWatcher::stop()
{
    if (watcher == nullptr) {
        return;
    }
    ScriptedDriver& d = ScriptedDriver::instance();
    ++d.watchStops;
    d.changeListener = nullptr;
    watcher = nullptr;
}

bool DisplayChangeWatcher::isWatching() const
{
    return watcher != nullptr;
}
