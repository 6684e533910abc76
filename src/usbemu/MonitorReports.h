// Report contents of the emulated monitors: the commands they understand and
// ready-made answers (OSD report, EDID base block).
#ifndef PNLMON_USBEMU_MONITORREPORTS_H
#define PNLMON_USBEMU_MONITORREPORTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbemu {

// Every output and input report of the monitors is this long.
constexpr std::size_t kReportLength = 48;

// The command code at byte 1 of the output report.
enum class Command : uint8_t { Inventory = 0x01, Edid = 0x0B, Osd = 0x0D };

// 48-byte OSD input report whose byte 15 is the resolution index.
std::vector<uint8_t> MakeOsd(uint8_t resolutionIndex);

// A valid 128-byte EDID base block (header, manufacturer "ABC", date, size,
// features, established/standard timings, a preferred detailed timing
// 1024x768@60, name descriptor), checksum fixed.
std::vector<uint8_t> MakeEdid();

// Recomputes byte 127 (and byte 255 when there is a second block) so that
// each 128-byte block sums to 0 modulo 256.
void FixEdidChecksum(std::vector<uint8_t>& edid);

}  // namespace usbemu

#endif
