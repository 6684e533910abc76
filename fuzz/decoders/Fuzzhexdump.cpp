// The hex-dump reader of pnlmon-decode (plain hex, xxd, hexdump -C with its
// "*" repeats, edid-decode's hex block) on any text: it never throws, never
// returns more than its limit, and what it returns, written back in the
// inventory tool's layout, reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HexDumpText.h"

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_hexdump: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    HexDumpText::IsText(std::vector<unsigned char>(data, data + size));

    std::vector<unsigned char> bytes;
    std::string error;
    bool read = false;
    try {
        read = HexDumpText::Read(text, bytes, error);
    } catch (...) {
        Check(false, "Read threw");
    }
    if (!read) {
        Check(!error.empty(), "a refused dump without a reason");
        return 0;
    }
    Check(!bytes.empty(), "an accepted dump without bytes");
    Check(bytes.size() <= HexDumpText::kMaxBytes, "more bytes than the limit");

    std::vector<unsigned char> again;
    Check(HexDumpText::Read(HexDumpText::Format(bytes.data(), bytes.size(), "  "), again, error),
          "a written dump does not read back");
    Check(again == bytes, "a written dump reads back to other bytes");
    return 0;
}
