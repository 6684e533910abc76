// CMPIArray: a fixed number of elements of one type, created all null.
#pragma once

#include "BrokerObject.h"
#include "HostValue.h"

#include <cstdint>
#include <vector>

namespace cimhost {

class ArrayObject final : public BrokerObject {
public:
    ArrayObject(HostBroker& broker, CMPIType elementType, std::vector<HostValue> elements);
    const void* header() const override { return &cmpi; }

    // elementType may carry the array bit; CMPI_chars becomes CMPI_string.
    static CMPIArray* Make(HostBroker& broker, CMPIType elementType, std::vector<HostValue> elements,
                           std::uint64_t scope = 0);
    static ArrayObject* From(const CMPIArray* a);

    HostValue toValue() const; // an array value of type CMPI_ARRAY | elementType

    CMPIType elementType;
    std::vector<HostValue> elements;
    CMPIArray cmpi;
};

} // namespace cimhost
