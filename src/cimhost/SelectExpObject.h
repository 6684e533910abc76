// Stand-in CMPISelectExp for subscription filters: it carries the query text
// (getString) but cannot evaluate it.
#pragma once

#include "BrokerObject.h"

#include <cstdint>
#include <string>

namespace cimhost {

class SelectExpObject final : public BrokerObject {
public:
    SelectExpObject(HostBroker& broker, std::string query, std::string language);
    const void* header() const override { return &cmpi; }

    static CMPISelectExp* Make(HostBroker& broker, const std::string& query, const std::string& language,
                               std::uint64_t scope = 0);
    static SelectExpObject* From(const CMPISelectExp* se);

    const std::string query;
    const std::string language;
    CMPISelectExp cmpi;
};

} // namespace cimhost
