// DisplayApi, the driver's exported front end, and the identification
// strings of the library.
#include "display.h"

#include <cstdint>

#include "Config.h"
#include "DisplayManager.h"
#include "HotplugWatcher.h"
#include "log.h"

extern "C" {
char EyeCatcher1[4] = "~~~";
char PnlmonlVersion[26] = "PNLMON Version 3.1.000 / ";
char BuildDate[33] = "Built at " __TIME__ " on " __DATE__;
char ExtraInfo[1] = "";
char EyeCatcher2[4] = "~~~";
}

DisplayApi::DisplayApi() : init(false), manager(nullptr)
{
    Config::addUser();
    manager = new DisplayManager();
    LogQuick(LEVEL_DEBUG, "DisplayApi constructed");
}

DisplayApi::~DisplayApi()
{
    if (manager != nullptr) {
        delete manager;
        manager = nullptr;
    }
    Config::removeUser();  // the last DisplayApi destroys the configuration
    LogQuick(LEVEL_DEBUG, "DisplayApi destroyed");
}

DISPLAY_CODE DisplayApi::initialiseDisplayDriver()
{
    Log(LEVEL_TRACE, "API: InitialiseDisplayDriver, init=%x", init ? 1 : 0);
    DISPLAY_CODE code = DSP_OK;
    if (!init) {
        code = manager->initialise();
        if (code == DSP_OK) {
            init = true;
        }
    }
    Log(LEVEL_TRACE, "API: InitialiseDisplayDriver exit, dspcode=0x%x", code);
    return code;
}

DISPLAY_CODE DisplayApi::getDisplayInformationList(DisplayInformationList& list)
{
    Log(LEVEL_TRACE, "API: getDisplayInformation, init=%x", init ? 1 : 0);
    DISPLAY_CODE code = DSP_NOT_INITIALISED;
    if (init) {
        code = manager->getDisplayInformationList(list);
    }
    Log(LEVEL_TRACE, "API: getDisplayInformation exit, dspcode=0x%x", code);
    return code;
}

void DisplayApi::setDisplayListener(IDisplayListener* listener)
{
    Log(LEVEL_TRACE, "API: setDisplayListener, init=%x, listener=0x%p", init ? 1 : 0,
        static_cast<void*>(listener));
    if (init) {
        manager->setDisplayListener(listener);
    }
    LogQuick(LEVEL_TRACE, "API: setDisplayListener exit");
}

void DisplayApi::clearDisplayListener()
{
    Log(LEVEL_TRACE, "API: clearDisplayListener, init=%x", init ? 1 : 0);
    if (init) {
        manager->clearDisplayListener();
    }
}

DISPLAY_CODE DisplayApi::getDisplayReports(display_report_list_t& reports)
{
    reports.clear();
    if (!init) {
        return DSP_NOT_INITIALISED;
    }
    return manager->getDisplayReports(reports);
}

bool DisplayApi::announceChangesImmediately()
{
    return Config::getInstance()->announceChangesImmediately();
}

DisplayChangeWatcher::DisplayChangeWatcher() : watcher(new HotplugWatcher())
{
}

DisplayChangeWatcher::~DisplayChangeWatcher()
{
    delete watcher;
    watcher = nullptr;
}

DISPLAY_CODE DisplayChangeWatcher::start(IDisplayChangeListener* listener)
{
    return watcher->start(listener);
}

void DisplayChangeWatcher::stop()
{
    watcher->stop();
}

bool DisplayChangeWatcher::isWatching() const
{
    return watcher->isWatching();
}
