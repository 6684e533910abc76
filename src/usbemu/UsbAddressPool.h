// USB addresses of bus 1 for the emulated monitors. Like the kernel, hands
// them out round robin from 2 to 127, skipping addresses in use, so that a
// replugged monitor usually gets a new address but a long test run never
// runs out.
#ifndef PNLMON_USBEMU_USBADDRESSPOOL_H
#define PNLMON_USBEMU_USBADDRESSPOOL_H

#include <array>

namespace usbemu {

class UsbAddressPool {
public:
    static constexpr int kFirst = 2;
    static constexpr int kLast = 127;

    // A free address, or -1 when all 126 are in use.
    int acquire();
    void release(int address);

private:
    std::array<bool, kLast + 1> used{};
    int next = kFirst;
};

}  // namespace usbemu

#endif
