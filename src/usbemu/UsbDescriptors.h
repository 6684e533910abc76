// sysfs descriptions of the emulated USB devices.
#ifndef PNLMON_USBEMU_USBDESCRIPTORS_H
#define PNLMON_USBEMU_USBDESCRIPTORS_H

#include <cstdint>
#include <string>
#include <vector>

#include "MonitorSpec.h"

namespace usbemu {

// Device descriptor followed by the configuration with its interfaces, HID
// descriptors and endpoints, as the sysfs "descriptors" file holds them.
std::vector<uint8_t> BuildDescriptors(const MonitorSpec& spec);

// The umockdev description of bus 1's root hub at /devices/usb1.
std::string RootHubDescription();

// The umockdev description of a monitor at the given USB address.
std::string MonitorDescription(const MonitorSpec& spec, int address);

// Paths of a monitor at an address: "/sys/devices/usb1/1-<address>" and
// "/dev/bus/usb/001/<address>".
std::string MonitorSyspath(int address);
std::string MonitorDevnode(int address);

}  // namespace usbemu

#endif
