// Makes libusb_get_device_descriptor fail for one device.
//
// libusb answers that call from the descriptor it cached when it listed the
// bus and always returns 0, so no emulated monitor can make it fail. This
// binary defines the function itself and exports it: the dynamic linker then
// binds the driver library (and the provider's copy of it) to this
// definition, which passes every call on to libusb unless armed.
#ifndef PNLMON_TEST_FAULTS_DESCRIPTORFAULT_H
#define PNLMON_TEST_FAULTS_DESCRIPTORFAULT_H

namespace faults {

class DescriptorFault {
public:
    // From now on, the call number `nth` (0-based) for the device at USB
    // address `address` of bus 1 answers `error`, once.
    static void Arm(int address, int nth, int error);
    static void Disarm();
    // Calls for the armed address since Arm.
    static int Calls();
    // True when the driver library is bound to the interposed function.
    static bool Active();
};

}  // namespace faults

#endif
