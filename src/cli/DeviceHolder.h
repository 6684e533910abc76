// Which process holds a USB device open: a scan of the open files of every
// process for the device's usbfs node. Only what the caller may read is
// seen (root sees every process; others see their own).
#ifndef PNLMON_DEVICEHOLDER_H
#define PNLMON_DEVICEHOLDER_H

#include <sys/types.h>

#include <string>

class DeviceHolder {
public:
    // procRoot is the proc file system to scan (another folder in tests).
    explicit DeviceHolder(const std::string& procRoot = "/proc");

    // The node of a device: "/dev/bus/usb/001/002".
    static std::string NodePath(unsigned bus, unsigned device);

    // True when a process other than this one has the node of bus:device
    // open; pid and name (its command name, as the kernel keeps it) are
    // then set, for the first such process in the scan.
    bool find(unsigned bus, unsigned device, pid_t& pid, std::string& name) const;

private:
    bool holds(const std::string& pidDir, const std::string& node) const;

    std::string procRoot;
};

#endif
