#include "UsbHost.h"

#include <cstdlib>

UsbHost& UsbHost::get()
{
    static UsbHost* host = new UsbHost();
    return *host;
}

UsbHost::UsbHost()
{
    if (libusb_init(&ctx) != 0) {
        abort();
    }
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
}

std::vector<UsbHost::Device> UsbHost::list()
{
    std::vector<Device> devices;
    libusb_device** all = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &all);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(all[i], &descriptor) != 0 || descriptor.bDeviceClass == 9) {
            continue;  // skip the root hub
        }
        Device device;
        device.vid = descriptor.idVendor;
        device.pid = descriptor.idProduct;
        device.bcdDevice = descriptor.bcdDevice;
        device.address = libusb_get_device_address(all[i]);
        devices.push_back(device);
    }
    if (count >= 0) {
        libusb_free_device_list(all, 1);
    }
    return devices;
}

libusb_device* UsbHost::find(int address)
{
    libusb_device* found = nullptr;
    libusb_device** all = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &all);
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_device_address(all[i]) == address) {
            found = libusb_ref_device(all[i]);
        }
    }
    if (count >= 0) {
        libusb_free_device_list(all, 1);
    }
    return found;
}

int UsbHost::open(int address, libusb_device_handle** handle)
{
    libusb_device* device = find(address);
    if (device == nullptr) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    int result = libusb_open(device, handle);
    libusb_unref_device(device);
    return result;
}

UsbHost::Exchange UsbHost::exchange(libusb_device_handle* handle, uint8_t command, uint8_t selector, int reads,
                                    uint8_t endpoint, unsigned timeout)
{
    Exchange exchange;
    uint8_t report[48] = {0};
    report[1] = command;
    report[2] = selector;
    exchange.setReport = libusb_control_transfer(handle, 0x21, 0x09, 0x0200, 0, report, sizeof report, timeout);
    if (exchange.setReport < 0) {
        exchange.result = exchange.setReport;
        return exchange;
    }
    for (int i = 0; i < reads; ++i) {
        uint8_t input[48] = {0};
        int transferred = 0;
        int result = libusb_interrupt_transfer(handle, endpoint, input, sizeof input, &transferred, timeout);
        if (result != 0) {
            exchange.result = result;
            return exchange;
        }
        exchange.lengths.push_back(transferred);
        exchange.bytes.insert(exchange.bytes.end(), input, input + sizeof input);
    }
    return exchange;
}
