#include "HidIo.h"

#include <cstdio>

#include "log.h"

libusb_context* HidIo::context = nullptr;
int HidIo::users = 0;

namespace {
const uint8_t kSetReportRequestType = 0x21;  // host to device, class, interface
const uint8_t kSetReport = 0x09;
const uint16_t kOutputReportId0 = 0x0200;    // report type 2 (output), report id 0
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

int HidIo::open(libusb_device* dev, libusb_device_handle** udev)
{
    return libusb_open(dev, udev);
}

void HidIo::close(libusb_device_handle* udev)
{
    libusb_close(udev);
}

bool HidIo::claimInterface(libusb_device_handle* udev, int intfno)
{
    if (libusb_kernel_driver_active(udev, intfno) == 1) {
        int result = libusb_detach_kernel_driver(udev, intfno);
        if (result != 0) {
            Log(LEVEL_ERROR, "HidIo::claimInterface - trying detach the current driver from interface #%d, error=%d",
                intfno, result);
            return false;
        }
    }
    int result = libusb_claim_interface(udev, intfno);
    if (result != 0) {
        Log(LEVEL_ERROR, "HidIo::claimInterface - cannot claim interface %d, error=%d\n", intfno, result);
        return false;
    }
    return true;
}

void HidIo::releaseInterface(libusb_device_handle* udev, int intfno)
{
    libusb_release_interface(udev, intfno);
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
    return true;
}
