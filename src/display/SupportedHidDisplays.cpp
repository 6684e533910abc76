#include "SupportedHidDisplays.h"

SupportedHidDisplays::SupportedHidDisplays()
{
    displayList.emplace_back(0x04B3, 0x4676);
    displayList.emplace_back(0x04B3, 0x4677);
    displayList.emplace_back(0x04B3, 0x4678);
    displayList.emplace_back(0x04B3, 0x4679);
    displayList.emplace_back(0x0F66, 0x467A);
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
