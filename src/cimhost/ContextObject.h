// CMPIContext: named entries. A context made by prepareAttachThread is
// "prepared": a thread attaches with it, and detachThread frees it together
// with every object the thread made while attached.
#pragma once

#include "BrokerObject.h"
#include "HostValue.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cimhost {

class ContextObject final : public BrokerObject {
public:
    using Entries = std::vector<std::pair<std::string, HostValue>>;

    ContextObject(HostBroker& broker, Entries entries, bool prepared);
    ~ContextObject() override;
    const void* header() const override { return &cmpi; }

    static CMPIContext* Make(HostBroker& broker, Entries entries, bool prepared, std::uint64_t scope = 0);
    static ContextObject* From(const CMPIContext* c);

    Entries entries;
    const bool prepared;
    std::uint64_t attachScope = 0;   // objects made while attached (0 = not attached)
    std::uint64_t previousScope = 0; // thread scope before attaching
    CMPIContext cmpi;
};

} // namespace cimhost
