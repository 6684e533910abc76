// Named values as the broker's objects hand them to a provider: arguments,
// context entries, instance properties and object path keys.
#ifndef PNLMON_CIMHOST_NAMEDVALUES_H
#define PNLMON_CIMHOST_NAMEDVALUES_H

#include <string>
#include <utility>
#include <vector>

#include "HostValue.h"
#include "cmpift.h"

namespace cimhost {

class HostBroker;

class NamedValues {
public:
    using List = std::vector<std::pair<std::string, HostValue>>;

    // The value as CMPIData, its state or'ed with extraState. A missing
    // value answers `missing` with a not-found null value.
    static CMPIData Data(HostBroker& broker, const HostValue* value, CMPIStatus* rc,
                         CMPIrc missing = CMPI_RC_ERR_NO_SUCH_PROPERTY, CMPIValueState extraState = 0);

    // The value at index, and its name when name is not null (the ...At
    // functions of the tables); past the end as a missing value.
    static CMPIData At(HostBroker& broker, const List& list, unsigned int index, CMPIString** name,
                       CMPIStatus* rc, CMPIrc missing = CMPI_RC_ERR_NO_SUCH_PROPERTY,
                       CMPIValueState extraState = 0);

    // The first value whose name matches, ignoring case; null when none.
    static const HostValue* Find(const List& list, const char* name);
};

} // namespace cimhost

#endif
