// The usbfs side of one emulated monitor: the ioctl handler that umockdev
// calls for the monitor's device node. It keeps the URBs in flight and asks
// the MonitorFirmware what to answer.
#ifndef PNLMON_USBEMU_USBFSDEVICE_H
#define PNLMON_USBEMU_USBFSDEVICE_H

#include <functional>
#include <memory>

namespace usbemu {

class MonitorFirmware;

class UsbfsDevice {
public:
    // onVanish runs on umockdev's worker thread after the firmware decided to
    // disappear and the URB that triggered it was reaped.
    UsbfsDevice(std::shared_ptr<MonitorFirmware> firmware, std::function<void()> onVanish);
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    // The umockdev ioctl handler object, for Testbed::attachIoctl.
    void* ioctlHandler() const;

    // The monitor was pulled: like the kernel at a disconnect, every URB
    // still in flight completes with -ENODEV, so a client waiting for a read
    // gets it back at its next reap instead of waiting out its timeout. Call
    // after the firmware is marked gone.
    void disconnect();

    // Clients (open device nodes) connected to the handler right now. A
    // handler must not be detached while a client is connected: umockdev's
    // preload aborts a client whose ioctl socket goes away.
    int clients() const;

    // Returns once umockdev's loop has taken in what clients did before
    // (a closed node's end arrives there asynchronously). Not for umockdev's
    // own thread.
    void settle();
    // The same, as a function that stays valid after this object is gone.
    std::function<void()> settler() const;

    struct State;

private:
    void* handler;
    std::shared_ptr<State> state;
};

}  // namespace usbemu

#endif
