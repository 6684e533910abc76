// One row of the supported-monitor table: a USB vendor and product identifier.
#ifndef PNLMON_SUPPORTEDHIDDISPLAY_H
#define PNLMON_SUPPORTEDHIDDISPLAY_H

class SupportedHidDisplay {
public:
    SupportedHidDisplay(unsigned short vid, unsigned short pid) : vid(vid), pid(pid) {}

    // Both identifiers must be equal; no wildcard, mask or range.
    bool match(unsigned short vid, unsigned short pid) const { return this->vid == vid && this->pid == pid; }

    unsigned short vid;
    unsigned short pid;
};

#endif
