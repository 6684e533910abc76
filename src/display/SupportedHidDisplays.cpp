#include "SupportedHidDisplays.h"

#include "SupportedMonitorTable.h"

SupportedHidDisplays::SupportedHidDisplays()
{
    for (const SupportedMonitorTable::Row* row = SupportedMonitorTable::begin();
         row != SupportedMonitorTable::end(); ++row) {
        displayList.emplace_back(row->vid, row->pid);
    }
}

SupportedHidDisplays::~SupportedHidDisplays() = default;

bool SupportedHidDisplays::findMatchingDisplay(unsigned short vid, unsigned short pid) const
{
    for (const SupportedHidDisplay& row : displayList) {
        if (row.match(vid, pid)) {
            return true;
        }
    }
    return false;
}
