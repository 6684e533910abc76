// Inventory report decoder followed by the device family, as the monitor
// device runs them. The first four bytes are the USB vendor and product id.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DeviceData.h"
#include "FuzzLogging.h"
#include "Inventory.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLoggingToNowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    unsigned short vid = static_cast<unsigned short>((data[0] << 8) | data[1]);
    unsigned short pid = static_cast<unsigned short>((data[2] << 8) | data[3]);
    std::vector<char> report(data + 4, data + size);

    Inventory inventory;
    bool decoded = inventory.initialise(report.empty() ? nullptr : report.data(),
                                        static_cast<unsigned int>(report.size()), vid, pid);
    if (decoded != (report.size() >= 35)) {
        __builtin_trap();
    }
    if (decoded && (inventory.firmwareRevision.size() != 4 || inventory.machine.size() != 4 ||
                    inventory.model.size() != 3 || inventory.serialNumber.size() != 7 ||
                    inventory.backlightFault < 1 || inventory.backlightFault > 2)) {
        __builtin_trap();
    }
    DeviceData deviceData;
    deviceData.setData(inventory, pid);
    if (deviceData.device > 3 || deviceData.supportedVideoSources.size() > 2 ||
        (deviceData.device == 0 && !deviceData.supportedVideoSources.empty())) {
        __builtin_trap();
    }
    return 0;
}
