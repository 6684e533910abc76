// Faults an emulated monitor can be told to produce.
#ifndef PNLMON_USBEMU_FAULT_H
#define PNLMON_USBEMU_FAULT_H

#include <optional>
#include <string>

#include "MonitorReports.h"

namespace usbemu {

enum class FaultKind {
    None,
    GetDriverFails,      // kernel-driver query fails (EIO -> LIBUSB_ERROR_OTHER)
    DetachFails,         // driver bound, detach fails (EIO -> LIBUSB_ERROR_OTHER)
    ClaimFails,          // claim fails EBUSY -> LIBUSB_ERROR_BUSY
    OpenFails,           // the device node cannot be opened (LIBUSB_ERROR_IO)
    SetReportFails,      // the SET_REPORT control URB is stalled (-EPIPE -> LIBUSB_ERROR_PIPE)
    ReadFails,           // interrupt URB completes with -EPROTO -> LIBUSB_ERROR_IO
    Stall,               // interrupt URB completes with -EPIPE -> LIBUSB_ERROR_PIPE
    ReadTimeout,         // interrupt URB never answered (costs the caller's full timeout)
    ShortRead,           // interrupt URB answered with shortLength bytes
    VanishMidExchange,   // the monitor is unplugged right after accepting the SET_REPORT
    NoActiveConfig,      // sysfs shows no active configuration (bConfigurationValue 0):
                         // libusb_get_active_config_descriptor -> LIBUSB_ERROR_NOT_FOUND
};

struct Fault {
    FaultKind kind = FaultKind::None;
    std::optional<Command> command;   // only this exchange; empty = any exchange
    int readIndex = 0;                // for read faults: which read of the exchange (0-based)
    int shortLength = 10;
    int times = -1;                   // how many times it fires; -1 = until cleared
};

// Name of a kind as written in scenarios ("ReadTimeout"); ParseFaultKind
// accepts the same names and returns false for anything else.
const char* FaultKindName(FaultKind kind);
bool ParseFaultKind(const std::string& text, FaultKind& kind);

}  // namespace usbemu

#endif
