// One control transfer as the emulated monitor received it.
#ifndef PNLMON_USBEMU_WIREEVENT_H
#define PNLMON_USBEMU_WIREEVENT_H

#include <cstdint>
#include <vector>

namespace usbemu {

// One SET_REPORT as the emulated monitor received it, with the reads served for it.
struct WireEvent {
    uint8_t bmRequestType = 0, bRequest = 0;
    uint16_t wValue = 0, wIndex = 0, wLength = 0;
    std::vector<uint8_t> report;      // the data stage (48 bytes)
    int readsServed = 0;              // interrupt reads answered with data after this SET_REPORT
    bool rejected = false;            // the monitor stalled it (not a valid SET_REPORT, or a fault)
};

}  // namespace usbemu

#endif
