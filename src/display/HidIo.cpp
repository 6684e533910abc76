#include "HidIo.h"

#include <cstdio>

#include "log.h"

libusb_context* HidIo::context = nullptr;
int HidIo::users = 0;

namespace {
const uint8_t kSetReportRequestType = 0x21;  // host to device, class, interface
const uint8_t kSetReport = 0x09;
const uint16_t kOutputReportId0 = 0x0200;    // report type 2 (output), report id 0

// Runs on the thread in hotplugWait. No USB I/O here: the handler is told
// and the device is left alone. Returning 0 keeps the registration.
int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event, void* user)
{
    const HidIo::HotplugTarget* target = static_cast<const HidIo::HotplugTarget*>(user);
    target->handler(target->user, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return 0;
}
}  // namespace

int HidIo::usbInit()
{
    // Two DisplayApi objects may be alive at once; each monitor list counts
    // as one user of the shared context, so that the first one to go does
    // not end the context under the other.
    ++users;
    if (context != nullptr) {
        return 0;
    }
    int result = libusb_init(&context);
    if (result < 0) {
        context = nullptr;
        Log(LEVEL_ERROR, "HidIo::usbInit - libusb_init failed, error=%d", result);
    }
    // Debug level 0 whatever the initialisation returned; with a null context
    // this applies to the contexts libusb creates later.
    libusb_set_option(context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
    return result;
}

void HidIo::usbExit()
{
    if (users > 0 && --users > 0) {
        return;
    }
    if (context != nullptr) {
        libusb_exit(context);
        context = nullptr;
    }
}

int HidIo::get_device_list(libusb_device*** devs)
{
    // Without a context (libusb_init failed) there is no bus to list; libusb
    // would fall back to a default context that does not exist.
    ssize_t count = context != nullptr ? libusb_get_device_list(context, devs) : static_cast<ssize_t>(LIBUSB_ERROR_NOT_FOUND);
    printf("HidIo::get_device_list returns %i \n", static_cast<int>(count));
    return static_cast<int>(count);
}

void HidIo::freeDeviceList(libusb_device** devs)
{
    libusb_free_device_list(devs, 1);
}

int HidIo::getDeviceDescriptor(libusb_device* dev, libusb_device_descriptor* desc)
{
    return libusb_get_device_descriptor(dev, desc);
}

int HidIo::getActiveConfigDescriptor(libusb_device* dev, libusb_config_descriptor** config)
{
    return libusb_get_active_config_descriptor(dev, config);
}

void HidIo::freeConfigDescriptor(libusb_config_descriptor* config)
{
    libusb_free_config_descriptor(config);
}

uint8_t HidIo::getBusNumber(libusb_device* dev)
{
    return libusb_get_bus_number(dev);
}

uint8_t HidIo::getDeviceAddress(libusb_device* dev)
{
    return libusb_get_device_address(dev);
}

std::string HidIo::getPortPath(libusb_device* dev)
{
    uint8_t ports[8];  // USB 3 allows at most 7 tiers of ports
    int count = libusb_get_port_numbers(dev, ports, sizeof(ports));
    std::string path = std::to_string(libusb_get_bus_number(dev));
    if (count <= 0) {
        return path + "-@" + std::to_string(libusb_get_device_address(dev));
    }
    for (int i = 0; i < count; ++i) {
        path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    }
    return path;
}

int HidIo::open(libusb_device* dev, libusb_device_handle** udev)
{
    return libusb_open(dev, udev);
}

void HidIo::close(libusb_device_handle* udev)
{
    libusb_close(udev);
}

int HidIo::claimInterface(libusb_device_handle* udev, int intfno, bool& reattach)
{
    reattach = false;
    // With auto-detach, libusb unbinds the kernel driver and claims in one
    // step (so no other program's claim can be taken away in between), and
    // attaches the driver again when the interface is released. Where libusb
    // cannot, the driver is detached and attached again by hand.
    bool autoDetach = libusb_set_auto_detach_kernel_driver(udev, 1) == LIBUSB_SUCCESS;
    bool detached = false;
    if (!autoDetach && libusb_kernel_driver_active(udev, intfno) == 1) {
        int result = libusb_detach_kernel_driver(udev, intfno);
        if (result == 0) {
            detached = true;
        } else if (result != LIBUSB_ERROR_NOT_FOUND) {
            Log(LEVEL_ERROR, "HidIo::claimInterface - trying detach the current driver from interface #%d, error=%d",
                intfno, result);
            return result;
        }
        // Not found: no kernel driver by now (another program may have
        // claimed the interface meanwhile); the claim tells.
    }
    int result = libusb_claim_interface(udev, intfno);
    if (result == LIBUSB_ERROR_BUSY) {
        Log(LEVEL_DEBUG, "HidIo::claimInterface - interface %d is held by another program", intfno);
    } else if (result != 0 && autoDetach && libusb_kernel_driver_active(udev, intfno) == 1) {
        // The kernel driver is still bound: it could not be detached.
        Log(LEVEL_ERROR, "HidIo::claimInterface - trying detach the current driver from interface #%d, error=%d",
            intfno, result);
    } else if (result != 0) {
        Log(LEVEL_ERROR, "HidIo::claimInterface - cannot claim interface %d, error=%d\n", intfno, result);
    }
    if (result != 0) {
        if (detached) {
            // Not claimed: the driver detached above goes straight back.
            libusb_attach_kernel_driver(udev, intfno);
        }
        return result;
    }
    reattach = detached;
    return 0;
}

void HidIo::releaseInterface(libusb_device_handle* udev, int intfno, bool reattach)
{
    int result = libusb_release_interface(udev, intfno);
    int attached = LIBUSB_SUCCESS;
    if (reattach) {
        attached = libusb_attach_kernel_driver(udev, intfno);
    }
    Log(LEVEL_DEBUG, "HidIo::releaseInterface - interface %d released, result=%d%s", intfno, result,
        reattach ? (attached == LIBUSB_SUCCESS ? ", kernel driver attached" : ", kernel driver not attached") : "");
}

bool HidIo::setReport(libusb_device_handle* udev, int intfno, unsigned char* rebuf, unsigned short repbufLen,
                      unsigned int timeout)
{
    int result = libusb_control_transfer(udev, kSetReportRequestType, kSetReport, kOutputReportId0,
                                         static_cast<uint16_t>(intfno), rebuf, repbufLen, timeout);
    if (result < 0) {
        Log(LEVEL_ERROR, "HidIo::setReport - failed, 0x%08x", static_cast<unsigned>(result));
        return false;
    }
    return true;
}

bool HidIo::interruptRead(libusb_device_handle* udev, char ep, unsigned char* buf, int bufLen, unsigned int timeout)
{
    int transferred = 0;
    int result = libusb_interrupt_transfer(udev, static_cast<unsigned char>(ep), buf, bufLen, &transferred, timeout);
    if (result < 0) {
        Log(LEVEL_ERROR, "HidIo::interruptRead - failed, 0x%08x", static_cast<unsigned>(result));
        return false;
    }
    // A report is only usable whole: the rest of the buffer would be read as
    // zeros (a monitor with no hours, resolution index 0, ...).
    if (transferred < bufLen) {
        Log(LEVEL_ERROR, "HidIo::interruptRead - short read, %d of %d bytes", transferred, bufLen);
        return false;
    }
    return true;
}

bool HidIo::hotplugCapable()
{
    return libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
}

int HidIo::hotplugOpen(libusb_context** watch)
{
    *watch = nullptr;
    int result = libusb_init(watch);
    if (result < 0) {
        *watch = nullptr;
        Log(LEVEL_ERROR, "HidIo::hotplugOpen - libusb_init failed, error=%d", result);
        return result;
    }
    libusb_set_option(*watch, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
    return 0;
}

int HidIo::hotplugRegister(libusb_context* watch, uint16_t vid, uint16_t pid, HotplugTarget* target)
{
    libusb_hotplug_callback_handle handle = 0;
    int result = libusb_hotplug_register_callback(
        watch, static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), vid, pid, LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, target, &handle);
    if (result != LIBUSB_SUCCESS) {
        Log(LEVEL_ERROR, "HidIo::hotplugRegister - %04x:%04x refused, error=%d", vid, pid, result);
        return result;
    }
    return 0;
}

int HidIo::hotplugWait(libusb_context* watch)
{
    // No timeout: the thread sleeps in poll() until a uevent or an interrupt.
    timeval forever;
    forever.tv_sec = 24 * 3600;
    forever.tv_usec = 0;
    return libusb_handle_events_timeout_completed(watch, &forever, nullptr);
}

void HidIo::hotplugInterrupt(libusb_context* watch)
{
    libusb_interrupt_event_handler(watch);
}

void HidIo::hotplugDrain(libusb_context* watch)
{
    timeval now;
    now.tv_sec = 0;
    now.tv_usec = 0;
    libusb_handle_events_timeout_completed(watch, &now, nullptr);
}

void HidIo::hotplugClose(libusb_context* watch)
{
    if (watch == nullptr) {
        return;
    }
    libusb_exit(watch);
}
