// EDID base block decoder. Every input is decoded twice: as it is (length,
// checksum and header checks), and, when long enough, once more with the
// header and checksum repaired, so that mutated blocks reach the field
// decoders instead of stopping at the checksum.
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

namespace {

const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Decodes a copy of exactly the given bytes, so that any read past them is
// caught, and checks what a decode may produce.
bool DecodeAndCheck(const std::vector<unsigned char>& bytes)
{
    Edid edid;
    bool decoded = edid.initialise(bytes.empty() ? nullptr : bytes.data(),
                                   static_cast<int>(bytes.size()));
    if (decoded) {
        // Three letters from 5-bit codes; 17 established timings and 8
        // standard slots at most; at most three power states.
        if (bytes.size() < 128 || !edid.init || edid.manufacturerName.size() != 3 ||
            edid.supportedResolutionsAndRefreshRates.size() > 25 ||
            edid.powerManagementModes.empty() || edid.powerManagementModes.size() > 3 ||
            edid.preferredResolutionAndRefreshRate.empty() ||
            edid.edidMajorVersion != bytes[18] || edid.edidMinorVersion != bytes[19]) {
            __builtin_trap();
        }
        for (char letter : edid.manufacturerName) {
            if (letter < 0x40 || letter > 0x5F) {
                __builtin_trap();
            }
        }
    } else if (edid.init || !edid.supportedResolutionsAndRefreshRates.empty() ||
               !edid.powerManagementModes.empty() || !edid.manufacturerName.empty()) {
        __builtin_trap();
    }
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    DecodeAndCheck(bytes);

    if (size >= 128) {
        for (size_t i = 0; i < sizeof(kHeader); ++i) {
            bytes[i] = kHeader[i];
        }
        unsigned int sum = 0;
        for (size_t i = 0; i < 127; ++i) {
            sum += bytes[i];
        }
        bytes[127] = static_cast<unsigned char>((0x100 - (sum & 0xFF)) & 0xFF);
        if (!DecodeAndCheck(bytes)) {
            __builtin_trap();  // a repaired block always decodes
        }
    }
    return 0;
}
