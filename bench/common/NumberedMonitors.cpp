#include "NumberedMonitors.h"

#include <cstdio>
#include <string>

#include "EmulatedBus.h"
#include "InventoryFields.h"
#include "MonitorSpec.h"

void NumberedMonitors::Plug(int count)
{
    usbemu::EmulatedBus& bus = usbemu::EmulatedBus::instance();
    bus.unplugAll();
    for (int i = 0; i < count; ++i) {
        usbemu::MonitorSpec spec;
        spec.name = "m" + std::to_string(i);
        usbemu::InventoryFields fields;
        char serial[16];
        snprintf(serial, sizeof(serial), "%07d", i);
        fields.serialNumber = serial;
        spec.inventory = fields.bytes();
        bus.plug(spec);
    }
}
