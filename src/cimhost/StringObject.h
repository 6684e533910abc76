// CMPIString: hdl is the NUL-terminated text itself, as in real brokers.
#pragma once

#include "BrokerObject.h"

#include <cstdint>
#include <string>

namespace cimhost {

class StringObject final : public BrokerObject {
public:
    StringObject(HostBroker& broker, const std::string& text);
    const void* header() const override { return &cmpi; }

    // New string in the calling thread's current scope (or in scope when given).
    static CMPIString* Make(HostBroker& broker, const std::string& text, std::uint64_t scope = 0);
    static StringObject* From(const CMPIString* s);
    // Text of any string the broker made; empty and false for an unknown pointer.
    static bool TextOf(const CMPIString* s, std::string& text);

    const std::string text;
    CMPIString cmpi;
};

} // namespace cimhost
