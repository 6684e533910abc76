// The four emulated monitors the churn tests plug and unplug: names
// "m0".."m3", each with its own product (one per family) and serial number.
#pragma once

#include <string>

#include "EmulatedBus.h"

class SoakMonitor {
public:
    static const int kCount = 4;
    static std::string name(int index) { return "m" + std::to_string(index); }
    // The DeviceID the provider reports for it.
    static std::string id(int index) { return "7427-A10-80000" + std::to_string(10 + index); }
    static usbemu::MonitorSpec spec(int index)
    {
        usbemu::InventoryFields fields;
        fields.machine = "7427";
        fields.model = "A10";
        fields.serialNumber = "80000" + std::to_string(10 + index);
        fields.powerOnSeconds = 3600u * (100u + static_cast<unsigned>(index));
        usbemu::MonitorSpec spec;
        spec.name = name(index);
        spec.pid = static_cast<uint16_t>(0x4676 + index);
        spec.inventory = fields.bytes();
        return spec;
    }
    // Index of the monitor with that DeviceID, -1 for none.
    static int indexOf(const std::string& deviceId)
    {
        for (int m = 0; m < kCount; ++m) {
            if (id(m) == deviceId) {
                return m;
            }
        }
        return -1;
    }
};
