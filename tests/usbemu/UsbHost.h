// The host side of the bench tests: the real libusb doing what a driver does
// with the monitors (list, open, claim, SET_REPORT, interrupt reads).
#ifndef PNLMON_TESTS_USBEMU_USBHOST_H
#define PNLMON_TESTS_USBEMU_USBHOST_H

#include <libusb.h>

#include <cstdint>
#include <vector>

class UsbHost {
public:
    struct Device {
        uint16_t vid = 0, pid = 0, bcdDevice = 0;
        int address = 0;
    };
    struct Exchange {
        int result = 0;                 // 0, or the first libusb error
        int setReport = 0;              // what the control transfer returned
        std::vector<uint8_t> bytes;     // the reads, 48 bytes each, concatenated
        std::vector<int> lengths;       // transferred length of each read
    };

    // The process's one context (created on first use, kept to the end).
    static UsbHost& get();
    libusb_context* context() { return ctx; }

    std::vector<Device> list();
    // A new reference to the device at this address, or null.
    libusb_device* find(int address);
    // libusb_open result; handle set on success.
    int open(int address, libusb_device_handle** handle);
    // SET_REPORT(command, selector) on interface 0, then reads 48-byte
    // input reports from endpoint, stopping at the first failure.
    Exchange exchange(libusb_device_handle* handle, uint8_t command, uint8_t selector, int reads,
                      uint8_t endpoint = 0x81, unsigned timeout = 1000);

private:
    UsbHost();
    libusb_context* ctx = nullptr;
};

#endif
