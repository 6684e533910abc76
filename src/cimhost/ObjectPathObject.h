// CMPIObjectPath: host, namespace, class name and key bindings.
#pragma once

#include "BrokerObject.h"
#include "HostObjectPath.h"

#include <cstdint>

namespace cimhost {

class ObjectPathObject final : public BrokerObject {
public:
    ObjectPathObject(HostBroker& broker, HostObjectPath model);
    const void* header() const override { return &cmpi; }

    static CMPIObjectPath* Make(HostBroker& broker, HostObjectPath model, std::uint64_t scope = 0);
    static ObjectPathObject* From(const CMPIObjectPath* op);

    HostObjectPath model;
    CMPIObjectPath cmpi;
};

} // namespace cimhost
