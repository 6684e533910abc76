// The video modes the monitor firmware numbers, in firmware order: the OSD
// report names the current mode by its index here.
#ifndef PNLMON_RESOLUTIONLIST_H
#define PNLMON_RESOLUTIONLIST_H

#include <cstddef>
#include <vector>

#include "Resolution.h"

typedef std::vector<Resolution> res_list_t;

class ResolutionList {
public:
    ResolutionList();

    // Copies entry index into res; leaves res unchanged for an index
    // beyond the table.
    void getResolution(size_t index, Resolution& res);

    res_list_t list;
};

#endif
