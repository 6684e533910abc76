#include "UsbDescriptors.h"

#include <cstdio>

namespace usbemu {
namespace {

void Append(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes)
{
    out.insert(out.end(), bytes);
}

uint8_t Low(unsigned value)
{
    return static_cast<uint8_t>(value & 0xFF);
}

uint8_t High(unsigned value)
{
    return static_cast<uint8_t>((value >> 8) & 0xFF);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

std::string Format(const char* format, int a, int b = 0)
{
    char buffer[128];
    snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

}  // namespace

std::vector<uint8_t> BuildDescriptors(const MonitorSpec& spec)
{
    std::vector<uint8_t> out;
    Append(out, {18, 1, 0x00, 0x02, 0, 0, 0, 64, Low(spec.vid), High(spec.vid), Low(spec.pid), High(spec.pid),
                 Low(spec.bcdDevice), High(spec.bcdDevice), 1, 2, 0, 1});
    std::size_t configStart = out.size();
    Append(out, {9, 2, 0, 0, spec.numInterfaces, 1, 0, 0xA0, 50});
    for (unsigned i = 0; i < spec.numInterfaces; ++i) {
        uint8_t endpoints = i == 0 ? spec.numEndpoints : 1;
        Append(out, {9, 4, static_cast<uint8_t>(i), 0, endpoints, 3, 0, 0, 0});
        Append(out, {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x40, 0x00});  // HID 1.11, one report descriptor
        for (unsigned e = 0; e < endpoints; ++e) {
            uint8_t address = static_cast<uint8_t>(0x81 + i);
            uint8_t attributes = 3;
            if (i == 0) {
                // The first endpoint of the monitor interface is the configured one;
                // further ones are OUT endpoints that nobody uses.
                address = e == 0 ? spec.endpoint : static_cast<uint8_t>(0x01 + e);
                attributes = e == 0 ? spec.endpointAttributes : 3;
            }
            Append(out, {7, 5, address, attributes, Low(spec.maxPacketSize), High(spec.maxPacketSize), 10});
        }
    }
    std::size_t total = out.size() - configStart;
    out[configStart + 2] = Low(static_cast<unsigned>(total));
    out[configStart + 3] = High(static_cast<unsigned>(total));
    return out;
}

std::string RootHubDescription()
{
    const std::vector<uint8_t> descriptors = {18, 1, 0, 2, 9, 0, 1, 64, 0x6b, 0x1d, 2, 0, 0, 1, 3, 2, 1, 1,
                                              9, 2, 25, 0, 1, 1, 0, 0xe0, 0,
                                              9, 4, 0, 0, 1, 9, 0, 0, 0,
                                              7, 5, 0x81, 3, 4, 0, 12};
    return "P: /devices/usb1\n"
           "N: bus/usb/001/001\n"
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           "E: BUSNUM=001\nE: DEVNUM=001\nE: DEVNAME=/dev/bus/usb/001/001\n"
           "A: busnum=1\\n\nA: devnum=1\\n\nA: speed=480\\n\n"
           "A: bConfigurationValue=1\\n\nA: dev=189:0\\n\n"
           "H: descriptors=" + Hex(descriptors) + "\n";
}

std::string MonitorSyspath(int address)
{
    return Format("/sys/devices/usb1/1-%d", address);
}

std::string MonitorDevnode(int address)
{
    return Format("/dev/bus/usb/001/%03d", address);
}

std::string MonitorDescription(const MonitorSpec& spec, int address)
{
    char ids[64];
    snprintf(ids, sizeof ids, "E: PRODUCT=%x/%x/%x\n", spec.vid, spec.pid, spec.bcdDevice);
    char attributes[96];
    snprintf(attributes, sizeof attributes, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", spec.vid, spec.pid);
    return Format("P: /devices/usb1/1-%d\n", address) +
           Format("N: bus/usb/001/%03d\n", address) +
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" +
           Format("E: BUSNUM=001\nE: DEVNUM=%03d\n", address) +
           Format("E: DEVNAME=/dev/bus/usb/001/%03d\n", address) + ids +
           Format("A: busnum=1\\n\nA: devnum=%d\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\n", address) +
           Format("A: dev=189:%d\\n\n", address - 1) + attributes +
           "H: descriptors=" + Hex(BuildDescriptors(spec)) + "\n";
}

}  // namespace usbemu
