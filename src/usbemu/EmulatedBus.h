// The emulated monitor bench: USB monitors that the real libusb finds, opens
// and talks to, emulated by umockdev in this process. Tests plug and unplug
// monitors, inject faults and read back what the driver sent.
//
// The process must run under the umockdev preload (EnsurePreload) and create
// the bus before its first libusb_init. Programs started by this process
// inherit the testbed (UMOCKDEV_DIR) and see the same monitors.
#ifndef PNLMON_USBEMU_EMULATEDBUS_H
#define PNLMON_USBEMU_EMULATEDBUS_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Fault.h"
#include "InventoryFields.h"
#include "MonitorReports.h"
#include "MonitorSpec.h"
#include "Preload.h"
#include "WireEvent.h"

namespace usbemu {

class EmulatedBus {
public:
    // The one testbed of the process. Must be created before the first
    // libusb_init in the process (the driver creates its libusb context in the
    // DisplayApi constructor). Throws std::runtime_error when umockdev fails.
    static EmulatedBus& instance();

    // Appears at the next libusb device list. Throws std::invalid_argument
    // for a name already plugged, an empty name or more than 4 interfaces,
    // std::runtime_error when the bus is full or umockdev refuses.
    void plug(const MonitorSpec& spec);
    void unplug(const std::string& name);         // unknown names are ignored
    void unplugAll();
    bool isPlugged(const std::string& name);

    // Faults apply to the plugged monitor of that name (std::out_of_range
    // otherwise) and end with its unplug.
    void setFault(const std::string& name, const Fault& fault);   // replaces any earlier fault
    void clearFault(const std::string& name);

    // The record survives the unplug until the name is plugged again.
    std::vector<WireEvent> wire(const std::string& name);         // since plug or clearWire
    void clearWire(const std::string& name);
    int opens(const std::string& name);          // how often the node was opened (0 = never touched)
    int endpointWrites(const std::string& name); // transfers submitted to an OUT endpoint

    // Additions to the bench's basic interface:
    // Finishes the unplug of monitors that vanished on their own
    // (VanishMidExchange) and returns their names. Every other operation does
    // this first as well.
    std::vector<std::string> collectVanished();
    std::vector<std::string> pluggedNames();
    int address(const std::string& name);       // USB address on bus 1, -1 when not plugged
    std::string rootDir();                       // the testbed folder (UMOCKDEV_DIR)

    // Interface claims follow usbfs: they belong to the open file of the
    // device node that made them (see README.md, "Claims and open files").
    // Another program, not a client of the node, holds the interface of the
    // plugged monitor (a stand-in for a flash utility) for `duration`, or
    // until releaseHold when it is zero. Its claim looks like any usbfs claim
    // (GETDRIVER answers "usbfs", claims get EBUSY); a bound kernel driver is
    // detached for it and bound again at its end. False, changing nothing,
    // when an open file holds the interface or there is no such interface.
    // std::out_of_range for a name that is not plugged.
    bool holdInterface(const std::string& name, std::chrono::milliseconds duration = {},
                       unsigned interface = 0);
    void releaseHold(const std::string& name, unsigned interface = 0);
    // What USBDEVFS_GETDRIVER answers now: "usbhid" (the kernel driver),
    // "usbfs" (an open file or another program) or "" (free, or not plugged).
    std::string interfaceHolder(const std::string& name, unsigned interface = 0);
    // Open files of the plugged monitor's node right now (0 when not plugged).
    int openFiles(const std::string& name);

    // Unplugs everything and removes the testbed folder. The bus cannot be
    // used afterwards; for programs that must leave nothing behind.
    void shutdown();

    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    struct Impl;

private:
    EmulatedBus();
    ~EmulatedBus();
    std::unique_ptr<Impl> impl;
};

}  // namespace usbemu

#endif
