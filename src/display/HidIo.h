// HidIo: the one place where the driver touches the USB bus. Thin static
// wrappers over libusb-1.0 (synchronous calls only) plus the process-wide
// libusb context used for the device list.
#ifndef PNLMON_HIDIO_H
#define PNLMON_HIDIO_H

#include <libusb.h>

#include <cstdint>
#include <string>

class HidIo {
public:
    // Creates the shared context (debug level 0), or counts one more user of
    // it. Called by each monitor list's constructor; the caller does not look
    // at the outcome.
    static int usbInit();
    // Drops one user; the last one ends the shared context. Called by each
    // monitor list's destructor.
    static void usbExit();

    // Lists the devices of the shared context; writes the count (or the
    // negative error) to standard output and returns it.
    static int get_device_list(libusb_device*** devs);
    static void freeDeviceList(libusb_device** devs);

    // Descriptor reads: libusb results, unchanged.
    static int getDeviceDescriptor(libusb_device* dev, libusb_device_descriptor* desc);
    static int getActiveConfigDescriptor(libusb_device* dev, libusb_config_descriptor** config);
    static void freeConfigDescriptor(libusb_config_descriptor* config);

    // Where the device sits: its bus number and its address on that bus.
    static uint8_t getBusNumber(libusb_device* dev);
    static uint8_t getDeviceAddress(libusb_device* dev);
    // Its place: the bus number and the port path from the root hub, as in
    // the kernel's device names ("1-2.3"); "<bus>-@<address>" where libusb
    // cannot tell the ports.
    static std::string getPortPath(libusb_device* dev);

    // Open and close a device: libusb results, unchanged.
    static int open(libusb_device* dev, libusb_device_handle** udev);
    static void close(libusb_device_handle* udev);

    // Claims the interface, detaching a bound kernel driver first; one
    // attempt. The detached driver is given back by releaseInterface: libusb
    // re-attaches it itself where it can (auto-detach), else reattach is set
    // and releaseInterface attaches it explicitly. Returns 0 or the libusb
    // error; failures are logged, except LIBUSB_ERROR_BUSY (another program
    // holds the interface), which only gets a DEBUG line: the caller decides
    // whether to try again.
    static int claimInterface(libusb_device_handle* udev, int intfno, bool& reattach);
    // Releases the interface and, when reattach is set, attaches the kernel
    // driver claimInterface detached by hand. Logged at DEBUG only.
    static void releaseInterface(libusb_device_handle* udev, int intfno, bool reattach);

    // HID SET_REPORT (output report, id 0) on the default control endpoint.
    static bool setReport(libusb_device_handle* udev, int intfno, unsigned char* rebuf,
                          unsigned short repbufLen, unsigned int timeout);
    // One interrupt transfer from endpoint ep. Fails (logged) on a libusb
    // error and on a short read: fewer than bufLen bytes arrived.
    static bool interruptRead(libusb_device_handle* udev, char ep, unsigned char* buf, int bufLen,
                              unsigned int timeout);

    // Hotplug notification, on a libusb context of its own that never opens
    // a device (so that its event handling waits on the context's internal
    // event only, and never competes with the shared context's transfers).
    typedef void (*HotplugHandler)(void* user, bool arrived);
    // Whom an event is told to; owned by the caller and kept until
    // hotplugClose of the context it was registered with.
    struct HotplugTarget {
        HotplugHandler handler;
        void* user;
    };
    // True when libusb can report arrivals and departures.
    static bool hotplugCapable();
    // Creates the watching context; libusb result, context set on success.
    static int hotplugOpen(libusb_context** watch);
    // Asks for arrivals and departures of vid:pid. The handler runs on the
    // thread in hotplugWait and must not do any USB I/O.
    static int hotplugRegister(libusb_context* watch, uint16_t vid, uint16_t pid, HotplugTarget* target);
    // Blocks until an event was handled or hotplugInterrupt was called;
    // libusb result.
    static int hotplugWait(libusb_context* watch);
    // Makes a hotplugWait in progress (or the next one) return.
    static void hotplugInterrupt(libusb_context* watch);
    // Handles the events already pending, without waiting (their handlers
    // still run). No hotplugWait may be running.
    static void hotplugDrain(libusb_context* watch);
    // Ends the context and its registrations. No hotplugWait may be running.
    static void hotplugClose(libusb_context* watch);

private:
    static libusb_context* context;
    static int users;
};

#endif
