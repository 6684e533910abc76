// CMPIResult: collects what a provider returns for one request.
#pragma once

#include "BrokerObject.h"
#include "RequestResult.h"

#include <cstdint>
#include <mutex>

namespace cimhost {

class ResultObject final : public BrokerObject {
public:
    ResultObject(HostBroker& broker, RequestResult& out);
    const void* header() const override { return &cmpi; }

    static CMPIResult* Make(HostBroker& broker, RequestResult& out, std::uint64_t scope);
    static ResultObject* From(const CMPIResult* r);

    std::mutex mutex;
    RequestResult& out;
    CMPIResult cmpi;
};

} // namespace cimhost
