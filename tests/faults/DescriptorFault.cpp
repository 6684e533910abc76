#include "DescriptorFault.h"

#include <dlfcn.h>
#include <libusb.h>

#include <atomic>

namespace {

std::atomic<int> g_address{-1};
std::atomic<int> g_nth{0};
std::atomic<int> g_error{0};
std::atomic<int> g_calls{0};
std::atomic<bool> g_called{false};

using DescriptorFunction = int (*)(libusb_device*, libusb_device_descriptor*);

DescriptorFunction Real()
{
    static const DescriptorFunction real =
        reinterpret_cast<DescriptorFunction>(dlsym(RTLD_NEXT, "libusb_get_device_descriptor"));
    return real;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int libusb_get_device_descriptor(libusb_device* dev,
                                                                                    libusb_device_descriptor* desc)
{
    g_called = true;
    int address = g_address.load();
    if (address >= 0 && libusb_get_bus_number(dev) == 1 && libusb_get_device_address(dev) == address) {
        if (g_calls.fetch_add(1) == g_nth.load()) {
            return g_error.load();
        }
    }
    DescriptorFunction real = Real();
    return real != nullptr ? real(dev, desc) : LIBUSB_ERROR_NOT_SUPPORTED;
}

namespace faults {

void DescriptorFault::Arm(int address, int nth, int error)
{
    g_address = -1;
    g_calls = 0;
    g_nth = nth;
    g_error = error;
    g_address = address;
}

void DescriptorFault::Disarm()
{
    g_address = -1;
}

int DescriptorFault::Calls()
{
    return g_calls.load();
}

bool DescriptorFault::Active()
{
    return g_called.load();
}

}  // namespace faults
