// Wrappers around the libusb calls the driver makes. Linked into a benchmark
// executable (which exports them), they take the place of libusb's own
// symbols for the driver, whether it is linked statically or loaded as a
// shared library; each forwards to libusb and adds the calling thread's CPU
// time inside the call to CpuMeter. With the emulated monitors that time also
// holds the hand-off of every usbfs ioctl to the emulator, so "thread CPU
// minus metered CPU" is the driver's own work: decoding, logging, the
// flash-utility check, records and change detection.
#include <dlfcn.h>
#include <libusb.h>

#include <cstdio>
#include <cstdlib>

#include "CpuMeter.h"
#include "HoldMeter.h"

namespace {
template <typename F>
F Next(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        fprintf(stderr, "LibusbMeter: no %s after the wrapper\n", name);
        abort();
    }
    return reinterpret_cast<F>(symbol);
}
}  // namespace

#define PNLMON_METERED(ret, name, params, args)                           \
    extern "C" ret name params                                            \
    {                                                                     \
        static auto real = Next<ret(*) params>(#name);                    \
        CpuMeter::Scope scope;                                            \
        return real args;                                                 \
    }

PNLMON_METERED(ssize_t, libusb_get_device_list, (libusb_context * ctx, libusb_device*** list), (ctx, list))
PNLMON_METERED(void, libusb_free_device_list, (libusb_device * *list, int unref), (list, unref))
PNLMON_METERED(int, libusb_get_device_descriptor, (libusb_device * dev, struct libusb_device_descriptor* desc),
               (dev, desc))
PNLMON_METERED(int, libusb_get_active_config_descriptor,
               (libusb_device * dev, struct libusb_config_descriptor** config), (dev, config))
PNLMON_METERED(void, libusb_free_config_descriptor, (struct libusb_config_descriptor * config), (config))
// Open and close also time how long each monitor is held.
extern "C" int libusb_open(libusb_device* dev, libusb_device_handle** handle)
{
    static auto real = Next<int (*)(libusb_device*, libusb_device_handle**)>("libusb_open");
    int result;
    {
        CpuMeter::Scope scope;
        result = real(dev, handle);
    }
    if (result == 0) {
        HoldMeter::Opened(*handle);
    }
    return result;
}
extern "C" void libusb_close(libusb_device_handle* handle)
{
    static auto real = Next<void (*)(libusb_device_handle*)>("libusb_close");
    {
        CpuMeter::Scope scope;
        real(handle);
    }
    HoldMeter::Closed(handle);
}
PNLMON_METERED(int, libusb_set_auto_detach_kernel_driver, (libusb_device_handle * handle, int enable),
               (handle, enable))
PNLMON_METERED(int, libusb_attach_kernel_driver, (libusb_device_handle * handle, int intf), (handle, intf))
PNLMON_METERED(int, libusb_kernel_driver_active, (libusb_device_handle * handle, int intf), (handle, intf))
PNLMON_METERED(int, libusb_detach_kernel_driver, (libusb_device_handle * handle, int intf), (handle, intf))
PNLMON_METERED(int, libusb_claim_interface, (libusb_device_handle * handle, int intf), (handle, intf))
PNLMON_METERED(int, libusb_release_interface, (libusb_device_handle * handle, int intf), (handle, intf))
PNLMON_METERED(int, libusb_control_transfer,
               (libusb_device_handle * handle, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                unsigned char* data, uint16_t length, unsigned int timeout),
               (handle, type, request, value, index, data, length, timeout))
PNLMON_METERED(int, libusb_interrupt_transfer,
               (libusb_device_handle * handle, unsigned char endpoint, unsigned char* data, int length,
                int* transferred, unsigned int timeout),
               (handle, endpoint, data, length, transferred, timeout))
