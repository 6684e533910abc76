#include "NamedValues.h"

#include <strings.h>

#include "BrokerObject.h"
#include "CmpiValueCodec.h"
#include "HostBroker.h"
#include "StringObject.h"

namespace cimhost {

CMPIData NamedValues::Data(HostBroker& broker, const HostValue* value, CMPIStatus* rc, CMPIrc missing,
                           CMPIValueState extraState)
{
    if (value == nullptr) {
        SetStatus(rc, missing);
        return MakeData(CMPI_null, CMPI_notFound | CMPI_nullValue);
    }
    try {
        CMPIData d = CmpiValueCodec::Write(broker, *value);
        d.state = static_cast<CMPIValueState>(d.state | extraState);
        SetStatus(rc, CMPI_RC_OK);
        return d;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return MakeData(CMPI_null, CMPI_badValue);
    }
}

CMPIData NamedValues::At(HostBroker& broker, const List& list, unsigned int index, CMPIString** name,
                         CMPIStatus* rc, CMPIrc missing, CMPIValueState extraState)
{
    if (index >= list.size()) {
        if (name != nullptr) {
            *name = nullptr;
        }
        return Data(broker, nullptr, rc, missing, extraState);
    }
    try {
        if (name != nullptr) {
            *name = StringObject::Make(broker, list[index].first);
        }
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    return Data(broker, &list[index].second, rc, missing, extraState);
}

const HostValue* NamedValues::Find(const List& list, const char* name)
{
    for (const auto& e : list) {
        if (strcasecmp(e.first.c_str(), name) == 0) {
            return &e.second;
        }
    }
    return nullptr;
}

} // namespace cimhost
