// CMPIArgs: named method arguments.
#pragma once

#include "BrokerObject.h"
#include "HostValue.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cimhost {

class ArgsObject final : public BrokerObject {
public:
    explicit ArgsObject(HostBroker& broker);
    const void* header() const override { return &cmpi; }

    static CMPIArgs* Make(HostBroker& broker, std::uint64_t scope = 0);
    static ArgsObject* From(const CMPIArgs* a);

    std::vector<std::pair<std::string, HostValue>> args;
    CMPIArgs cmpi;
};

} // namespace cimhost
