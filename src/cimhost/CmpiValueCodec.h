// Converts between the CMPIValue/CMPIType pairs a provider passes and the
// host's plain HostValue, following the conventions of real brokers:
// CMPI_chars passes the char* itself in place of the CMPIValue pointer,
// CMPI_charsptr points to a char*, every other type points to a variable of
// the matching C type; getters hand text back as CMPI_string.
#pragma once

#include "HostValue.h"

#include <cmpift.h>

namespace cimhost {

class HostBroker;

class CmpiValueCodec {
public:
    // Type as stored and read back: CMPI_chars/CMPI_charsptr become CMPI_string
    // (in arrays too).
    static CMPIType Normalize(CMPIType type);

    // Decodes a value passed by a provider. Pointers to broker objects are
    // validated; an unknown one gives CMPI_RC_ERR_INVALID_HANDLE.
    static CMPIrc Read(const CMPIValue* value, CMPIType type, HostValue& out);

    // Builds the data a getter returns, making broker objects (strings,
    // arrays, instances, paths, date-times) in the calling thread's scope.
    static CMPIData Write(HostBroker& broker, const HostValue& value);
};

} // namespace cimhost
