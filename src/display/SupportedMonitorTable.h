// The monitors this software supports: one row per USB vendor and product
// identifier pair, with the product family it belongs to. The bus scan
// (which devices to open), the inventory decoder (which video input rules
// apply) and the device data (the family's fixed attributes) all read it.
#ifndef PNLMON_SUPPORTEDMONITORTABLE_H
#define PNLMON_SUPPORTEDMONITORTABLE_H

#include <cstddef>

class SupportedMonitorTable {
public:
    // Product families. The codes are those of DeviceData::device.
    static constexpr unsigned short kFamilyUnknown = 0;
    static constexpr unsigned short kFamilyTilo = 1;
    static constexpr unsigned short kFamilyMerv = 2;
    static constexpr unsigned short kFamilySarn = 3;

    struct Row {
        unsigned short vid;
        unsigned short pid;
        unsigned short family;
    };

    // The rows, in the order the bus scan tries them.
    static const Row* begin();
    static const Row* end();
    static size_t size();

    // The row of exactly this pair (no wildcard, mask or range), or null.
    static const Row* find(unsigned short vid, unsigned short pid);
    // The family of the pair, kFamilyUnknown when it is not in the table.
    static unsigned short family(unsigned short vid, unsigned short pid);
};

#endif
