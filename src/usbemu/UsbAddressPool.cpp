#include "UsbAddressPool.h"

namespace usbemu {

int UsbAddressPool::acquire()
{
    for (int tries = kFirst; tries <= kLast; ++tries) {
        int address = next;
        next = next >= kLast ? kFirst : next + 1;
        if (!used[address]) {
            used[address] = true;
            return address;
        }
    }
    return -1;
}

void UsbAddressPool::release(int address)
{
    if (address >= kFirst && address <= kLast) {
        used[address] = false;
    }
}

}  // namespace usbemu
