// OSD report decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzLogging.h"
#include "Osd.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLoggingToNowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    Osd osd;
    bool decoded = osd.initialise(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(size));
    if (decoded != (size >= 24)) {
        __builtin_trap();
    }
    if (osd.currentHorizontalResolution > 1366 || osd.currentRefreshRate > 75) {
        __builtin_trap();
    }
    return 0;
}
