// CMPIDateTime: a point in time (microseconds since the epoch, UTC) or an
// interval (length in microseconds), with the 25-character CIM text form.
#pragma once

#include "BrokerObject.h"

#include <cstdint>
#include <string>

namespace cimhost {

class DateTimeObject final : public BrokerObject {
public:
    DateTimeObject(HostBroker& broker, std::uint64_t usec, bool interval);
    const void* header() const override { return &cmpi; }

    static CMPIDateTime* Make(HostBroker& broker, std::uint64_t usec, bool interval, std::uint64_t scope = 0);
    static DateTimeObject* From(const CMPIDateTime* dt);

    static std::uint64_t NowUsec();
    // "yyyymmddhhmmss.mmmmmm+000" (UTC) or "ddddddddhhmmss.mmmmmm:000".
    static std::string Format(std::uint64_t usec, bool interval);
    // Parses either form; false for anything else.
    static bool Parse(const char* text, std::uint64_t& usec, bool& interval);

    std::uint64_t usec;
    bool interval;
    CMPIDateTime cmpi;
};

} // namespace cimhost
