// The fields of an emulated monitor's inventory report.
#ifndef PNLMON_USBEMU_INVENTORYFIELDS_H
#define PNLMON_USBEMU_INVENTORYFIELDS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace usbemu {

// Builds the 48-byte inventory input report (layout: fwrev 4 @0, machine 4 @4,
// model 3 @8, serial 7 @11, power-on seconds u32 LE @18, backlight-on seconds
// u32 LE @22, brightness @26, status0 @27, status1 @28, status2..7 @29..34,
// rest zero). Strings are copied byte for byte, padded with NUL or cut to the
// field width.
struct InventoryFields {
    std::string firmwareRevision = "0105";
    std::string machine = "7427";
    std::string model = "A10";
    std::string serialNumber = "1234567";
    uint32_t powerOnSeconds = 0;
    uint32_t backlightOnSeconds = 0;
    uint8_t brightness = 80;
    uint8_t status0 = 0;
    uint8_t status1 = 0x0C;                 // bits 0-1 clear: VGA active
    std::array<uint8_t, 6> status2to7{};    // bytes 29..34
    std::vector<uint8_t> bytes() const;
};

}  // namespace usbemu

#endif
