// EDID base block decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Edid.h"
#include "FuzzLogging.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLoggingToNowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input, so that any read past it is caught.
    std::vector<unsigned char> bytes(data, data + size);
    Edid edid;
    bool decoded = edid.initialise(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(size));
    if (decoded) {
        // 17 established timings and 8 standard slots at most.
        if (size < 128 || edid.manufacturerName.size() != 3 ||
            edid.supportedResolutionsAndRefreshRates.size() > 25 ||
            edid.powerManagementModes.size() > 3) {
            __builtin_trap();
        }
    } else if (edid.init || !edid.supportedResolutionsAndRefreshRates.empty()) {
        __builtin_trap();
    }
    return 0;
}
