// Named values as the broker's objects hand them to a provider: arguments,
// context entries, instance properties and object path keys.
#ifndef PNLMON_CIMHOST_NAMEDVALUES_H
#define PNLMON_CIMHOST_NAMEDVALUES_H

#include <string>
#include <utility>
#include <vector>

#include "BrokerObject.h"
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

    // The get, get-at and count functions of a table whose objects keep
    // their values in the member `Values` (arguments, context entries).
    template <class Object, class Handle, List Object::*Values>
    static CMPIData Get(const Handle* handle, const char* name, CMPIStatus* rc)
    {
        Object* obj = Object::From(handle);
        if (obj == nullptr || name == nullptr) {
            SetStatus(rc, obj ? CMPI_RC_ERR_INVALID_PARAMETER : CMPI_RC_ERR_INVALID_HANDLE);
            return MakeData(CMPI_null, CMPI_badValue);
        }
        return Data(obj->broker(), Find(obj->*Values, name), rc);
    }
    template <class Object, class Handle, List Object::*Values>
    static CMPIData GetAt(const Handle* handle, unsigned int index, CMPIString** name, CMPIStatus* rc)
    {
        Object* obj = Object::From(handle);
        if (obj == nullptr) {
            SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
            return MakeData(CMPI_null, CMPI_badValue);
        }
        return At(obj->broker(), obj->*Values, index, name, rc);
    }
    template <class Object, class Handle, List Object::*Values>
    static unsigned int Count(const Handle* handle, CMPIStatus* rc)
    {
        Object* obj = Object::From(handle);
        SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
        return obj ? static_cast<unsigned int>((obj->*Values).size()) : 0;
    }
};

} // namespace cimhost

#endif
