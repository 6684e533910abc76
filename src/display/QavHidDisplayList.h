// The monitors of the latest bus enumeration, and arrival/departure
// detection against the enumeration before. Each monitor is read and closed
// again within the enumeration: the list keeps what was read, not open
// devices. A monitor whose interface another program holds keeps its
// record from the enumeration before (and is no change). Counts as one user
// of the process's shared libusb context.
#ifndef PNLMON_QAVHIDDISPLAYLIST_H
#define PNLMON_QAVHIDDISPLAYLIST_H

#include <libusb.h>

#include <map>
#include <string>
#include <vector>

#include "QavHidDisplay.h"
#include "SupportedHidDisplays.h"
#include "display.h"

typedef std::vector<QavHidDisplay*> qavhiddisplay_list_t;

class QavHidDisplayList {
public:
    QavHidDisplayList();
    ~QavHidDisplayList();
    QavHidDisplayList(const QavHidDisplayList&) = delete;
    QavHidDisplayList& operator=(const QavHidDisplayList&) = delete;

    void setDisplayListener(IDisplayListener* listener);
    void clearDisplayListener();

    // One full enumeration; false only when the USB device list cannot be
    // obtained.
    bool enumerate(SupportedHidDisplays& supportedDisplays);

    int getNumDisplays();
    // The monitor at index in bus-list order, or null when index is out of
    // range (negative or not below the count).
    QavHidDisplay* getDisplayAt(int index);

    // The reports of every supported monitor of the latest enumeration,
    // read or not.
    const display_report_list_t& getReports() const { return reports; }

    // Forgets the monitors of the latest enumeration and of the one before.
    void clear();

private:
    void addQavHidDisplay(libusb_device* dev);
    // A monitor held by another program: keeps its earlier read, if any.
    void keepBusyDisplay(QavHidDisplay* busy);
    void indicateDeviceChanges();
    void assignKeySuffixes();

    qavhiddisplay_list_t displays;
    // The monitors of the last enumeration before this one that listed the
    // bus: the earlier side of change detection, and where a busy monitor's
    // earlier read is found.
    qavhiddisplay_list_t earlier;
    display_list_t prev_displays;
    display_report_list_t reports;
    IDisplayListener* displayListener;
    // True while the latest enumeration could not list the bus: its (empty)
    // monitor list says nothing about what is attached, so the next clear()
    // keeps the snapshots of the last enumeration that did list it.
    bool listFailed;
    // The monitors of the latest enumeration that listed the bus, by place:
    // the identity each reported and the key suffix it got. A monitor still
    // at the same place with the same identity keeps its suffix (or its
    // lack of one), so its identifier stays the same while it is attached.
    struct PlacedKey {
        std::string identity;
        std::string suffix;
    };
    std::map<std::string, PlacedKey> placedKeys;
};

#endif
