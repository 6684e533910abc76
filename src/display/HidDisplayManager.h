// The driver's working core: serialises bus enumerations with enumLock,
// refuses to touch the monitors while a flash utility runs, and turns the
// monitor list into the caller's records.
#ifndef PNLMON_HIDDISPLAYMANAGER_H
#define PNLMON_HIDDISPLAYMANAGER_H

#include <pthread.h>

#include "QavHidDisplayList.h"
#include "SupportedHidDisplays.h"
#include "display.h"

class HidDisplayManager {
public:
    HidDisplayManager();
    ~HidDisplayManager();
    HidDisplayManager(const HidDisplayManager&) = delete;
    HidDisplayManager& operator=(const HidDisplayManager&) = delete;

    DISPLAY_CODE initialise();
    void terminate();

    void setDisplayListener(IDisplayListener* listener);
    void clearDisplayListener();

    // Enumerates the bus and, on DSP_OK, appends one record per monitor.
    DISPLAY_CODE getDisplayInformationList(DisplayInformationList& list);

    // The reports of the latest enumeration; see DisplayApi.
    DISPLAY_CODE getDisplayReports(display_report_list_t& reports);

private:
    // The enumeration and the records of its monitors, under enumLock.
    bool enumerate(display_list_t& records);
    DISPLAY_CODE updateDisplays(display_list_t& records);
    void buildDisplayInformationList(display_list_t& list);

    bool init;
    QavHidDisplayList displays;
    SupportedHidDisplays supportedDisplays;
    pthread_mutex_t enumLock;
    bool enumLockCreated;
};

#endif
