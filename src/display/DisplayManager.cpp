#include "DisplayManager.h"

#include "log.h"

DisplayManager::DisplayManager() : init(false)
{
    LogQuick(LEVEL_DEBUG, "DisplayManager Constructed");
}

DisplayManager::~DisplayManager()
{
    LogQuick(LEVEL_DEBUG, "DisplayManager Destroyed");
}

DISPLAY_CODE DisplayManager::initialise()
{
    if (init) {
        LogQuick(LEVEL_ERROR, "DisplayManager::initialise - already initialised");
        return DSP_INTERNAL_ERROR;
    }
    DISPLAY_CODE code = hidManager.initialise();
    if (code == DSP_OK) {
        init = true;
    }
    return code;
}

DISPLAY_CODE DisplayManager::getDisplayInformationList(DisplayInformationList& list)
{
    return hidManager.getDisplayInformationList(list);
}

void DisplayManager::setDisplayListener(IDisplayListener* listener)
{
    hidManager.setDisplayListener(listener);
}

void DisplayManager::clearDisplayListener()
{
    hidManager.clearDisplayListener();
}

DISPLAY_CODE DisplayManager::getDisplayReports(display_report_list_t& reports)
{
    return hidManager.getDisplayReports(reports);
}
