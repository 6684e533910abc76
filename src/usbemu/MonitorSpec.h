// What an emulated monitor looks like on the bus and what it answers.
#ifndef PNLMON_USBEMU_MONITORSPEC_H
#define PNLMON_USBEMU_MONITORSPEC_H

#include <cstdint>
#include <string>
#include <vector>

namespace usbemu {

struct MonitorSpec {
    std::string name;                 // unique on the bus
    uint16_t vid = 0x04B3;
    uint16_t pid = 0x4676;
    uint16_t bcdDevice = 0x0100;
    std::vector<uint8_t> inventory;   // answer to 0x01 (one 48-byte report; empty = InventoryFields{}.bytes())
    std::vector<uint8_t> edid;        // answer to 0x0B: 128 bytes (3 reports, last padded with 0)
                                      // or 256 bytes for selector 1 (6 reports); empty = MakeEdid()
    std::vector<uint8_t> osd;         // answer to 0x0D (one report); empty = MakeOsd(11)
    uint8_t numInterfaces = 1;        // 0..4 are representable
    uint8_t numEndpoints = 1;         // 0 = interface without endpoint
    uint8_t endpoint = 0x81;          // address of the interface's first endpoint (0x01: OUT)
    uint8_t endpointAttributes = 3;   // its bmAttributes: 3 interrupt, 2 bulk
    uint16_t maxPacketSize = 64;
    bool kernelDriverBound = false;   // USBDEVFS_GETDRIVER answers "usbhid"
};

}  // namespace usbemu

#endif
