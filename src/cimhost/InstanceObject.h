// CMPIInstance: properties in set order on the path it was created with.
#pragma once

#include "BrokerObject.h"
#include "HostInstance.h"

#include <cstdint>

namespace cimhost {

class InstanceObject final : public BrokerObject {
public:
    InstanceObject(HostBroker& broker, HostInstance model);
    const void* header() const override { return &cmpi; }

    static CMPIInstance* Make(HostBroker& broker, HostInstance model, std::uint64_t scope = 0);
    static InstanceObject* From(const CMPIInstance* i);

    HostInstance model;
    CMPIInstance cmpi;
};

} // namespace cimhost
