// The monitors the driver talks to: the pairs of SupportedMonitorTable.
#ifndef PNLMON_SUPPORTEDHIDDISPLAYS_H
#define PNLMON_SUPPORTEDHIDDISPLAYS_H

#include <vector>

#include "SupportedHidDisplay.h"

typedef std::vector<SupportedHidDisplay> posdev_list_t;

class SupportedHidDisplays {
public:
    SupportedHidDisplays();
    ~SupportedHidDisplays();

    // True when a row matches both identifiers.
    bool findMatchingDisplay(unsigned short vid, unsigned short pid) const;

    const posdev_list_t& rows() const { return displayList; }

private:
    posdev_list_t displayList;
};

#endif
