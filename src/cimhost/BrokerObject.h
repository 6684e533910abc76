// Base of every object the embedded broker hands to a provider. Each
// concrete object embeds the 16-byte CMPI header {hdl, ft} that the provider
// sees; the ObjectRegistry owns the objects and maps headers back to them.
#pragma once

#include <cmpift.h>

namespace cimhost {

inline CMPIStatus MakeStatus(CMPIrc rc)
{
    CMPIStatus st;
    st.rc = rc;
    st.msg = nullptr;
    return st;
}

// Stores rc in an optional status out-parameter.
inline void SetStatus(CMPIStatus* st, CMPIrc rc)
{
    if (st != nullptr) {
        st->rc = rc;
        st->msg = nullptr;
    }
}

inline CMPIData MakeData(CMPIType type, CMPIValueState state)
{
    CMPIData d;
    d.type = type;
    d.state = state;
    d.value.uint64 = 0;
    d.value.dataPtr.ptr = nullptr;
    d.value.dataPtr.length = 0;
    return d;
}

class HostBroker;

class BrokerObject {
public:
    explicit BrokerObject(HostBroker& broker) : broker_(broker) {}
    virtual ~BrokerObject() = default;
    BrokerObject(const BrokerObject&) = delete;
    BrokerObject& operator=(const BrokerObject&) = delete;

    // Address of the CMPI header handed to the provider.
    virtual const void* header() const = 0;
    HostBroker& broker() const { return broker_; }

private:
    HostBroker& broker_;
};

} // namespace cimhost
