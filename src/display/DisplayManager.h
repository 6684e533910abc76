// Thin internal layer behind DisplayApi: owns the HidDisplayManager and
// forwards every call to it.
#ifndef PNLMON_DISPLAYMANAGER_H
#define PNLMON_DISPLAYMANAGER_H

#include "HidDisplayManager.h"
#include "display.h"

class DisplayManager {
public:
    DisplayManager();
    ~DisplayManager();
    DisplayManager(const DisplayManager&) = delete;
    DisplayManager& operator=(const DisplayManager&) = delete;

    DISPLAY_CODE initialise();
    DISPLAY_CODE getDisplayInformationList(DisplayInformationList& list);
    void setDisplayListener(IDisplayListener* listener);
    void clearDisplayListener();
    DISPLAY_CODE getDisplayReports(display_report_list_t& reports);

private:
    bool init;
    HidDisplayManager hidManager;
};

#endif
