// Lifecycle indications as short texts: "+ID" for a CIM_InstCreation, "-ID"
// for a deletion, ID being the DeviceID of the source instance ("?" when the
// indication has none), in the order given.
#pragma once

#include <string>
#include <vector>

#include "IndicationQueue.h"

class IndicationChanges {
public:
    static std::vector<std::string> Of(const std::vector<cimhost::HostIndication>& indications);
};
