#include "HidDisplayManager.h"

#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>

#include "FlashAware.h"
#include "log.h"

HidDisplayManager::HidDisplayManager() : init(false), enumLockCreated(false)
{
    LogQuick(LEVEL_DEBUG, "HidDisplayManager Constructed");
}

HidDisplayManager::~HidDisplayManager()
{
    terminate();
    LogQuick(LEVEL_DEBUG, "HidDisplayManager Destroyed");
}

DISPLAY_CODE HidDisplayManager::initialise()
{
    // Initialising a live mutex again would be undefined behaviour: refuse,
    // in every build.
    if (init || enumLockCreated) {
        LogQuick(LEVEL_ERROR, "HidDisplayManager::initialise - already initialised");
        return DSP_INTERNAL_ERROR;
    }
    if (pthread_mutex_init(&enumLock, nullptr) != 0) {
        LogQuick(LEVEL_ERROR, "HidDisplayManager::initialise - create enumLock mutex failed");
        return DSP_INTERNAL_ERROR;
    }
    enumLockCreated = true;
    init = true;
    return DSP_OK;
}

void HidDisplayManager::terminate()
{
    Log(LEVEL_TRACE, "HidDisplayManager::terminate, init=%x", init ? 1 : 0);
    if (enumLockCreated) {
        pthread_mutex_destroy(&enumLock);
        enumLockCreated = false;
    }
}

void HidDisplayManager::setDisplayListener(IDisplayListener* listener)
{
    displays.setDisplayListener(listener);
}

void HidDisplayManager::clearDisplayListener()
{
    displays.clearDisplayListener();
}

DISPLAY_CODE HidDisplayManager::getDisplayInformationList(DisplayInformationList& list)
{
    // The list's address in a 32-bit field, as the line has always shown it.
    Log(LEVEL_TRACE, "HidDisplayManager::getDisplayInformationList(0x%08x), init=%x",
        static_cast<unsigned int>(reinterpret_cast<uintptr_t>(&list)), init ? 1 : 0);
    display_list_t records;
    DISPLAY_CODE code = updateDisplays(records);
    if (code == DSP_OK) {
        // The records were built for the caller: handed over, not copied.
        list.insert(list.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
    }
    Log(LEVEL_TRACE, "HidDisplayManager::getDisplayInformationList exit - dspcode=0x%x", code);
    return code;
}

DISPLAY_CODE HidDisplayManager::getDisplayReports(display_report_list_t& reports)
{
    if (!enumLockCreated) {
        return DSP_NOT_INITIALISED;
    }
    pthread_mutex_lock(&enumLock);
    // Released however the copy ends (it may throw bad_alloc).
    std::unique_ptr<pthread_mutex_t, int (*)(pthread_mutex_t*)> held(&enumLock, pthread_mutex_unlock);
    reports = displays.getReports();
    return DSP_OK;
}

DISPLAY_CODE HidDisplayManager::updateDisplays(display_list_t& records)
{
    if (FlashAware::isMonitorFlashProgramActive()) {
        LogQuick(LEVEL_DEBUG, "HidDisplayManager::updateDisplays - flashing program active - will not continue");
        return DSP_FLASH_IN_PROGRESS;
    }
    if (!enumerate(records)) {
        return DSP_ENUM_FAILED;
    }
    if (records.empty()) {
        return DSP_NO_DEVICES;
    }
    return DSP_OK;
}

bool HidDisplayManager::enumerate(display_list_t& records)
{
    LogQuick(LEVEL_TRACE, "HidDisplayManager::enumerate - waiting for enumLock...");
    bool result = false;
    {
        pthread_mutex_lock(&enumLock);
        // Released however the scope ends: a listener that throws or a
        // failed allocation must not leave every later request waiting.
        std::unique_ptr<pthread_mutex_t, int (*)(pthread_mutex_t*)> held(&enumLock, pthread_mutex_unlock);
        result = displays.enumerate(supportedDisplays);
        // The records are read while the monitors of this enumeration are
        // certain to exist: another thread's enumeration replaces them.
        if (result) {
            buildDisplayInformationList(records);
        }
    }
    LogQuick(LEVEL_TRACE, "HidDisplayManager::enumerate, exit - released enumLock");
    return result;
}

void HidDisplayManager::buildDisplayInformationList(display_list_t& list)
{
    int n = displays.getNumDisplays();
    if (n == 0) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        QavHidDisplay* display = displays.getDisplayAt(i);
        if (display == nullptr) {
            continue;
        }
        DisplayInformation info;
        display->buildDeviceInformation(info);
        list.push_back(std::move(info));
    }
}
