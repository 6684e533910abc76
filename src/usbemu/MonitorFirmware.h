// The emulated monitor's firmware: what it answers to each usbfs request that
// reaches it, its faults, and the record of the exchanges it saw. Plain C++;
// UsbfsDevice translates the usbfs ioctls into these calls.
//
// The requests arrive on umockdev's worker thread while tests read the record
// and change faults on their own thread, so every operation takes the
// firmware's lock.
#ifndef PNLMON_USBEMU_MONITORFIRMWARE_H
#define PNLMON_USBEMU_MONITORFIRMWARE_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Fault.h"
#include "MonitorSpec.h"
#include "WireEvent.h"

namespace usbemu {

class MonitorFirmware {
public:
    explicit MonitorFirmware(const MonitorSpec& spec);

    // The monitor description with its empty answers filled in with the defaults.
    const MonitorSpec& spec() const { return monitor; }

    // usbfs requests. Each returns 0, or the errno the ioctl fails with.
    int capabilities();                                   // libusb asks this once per open
    int getDriver(unsigned interface, std::string& driver);
    int disconnectDriver(unsigned interface);
    int connectDriver(unsigned interface);
    int claim(unsigned interface);
    int release(unsigned interface);

    struct ControlResult {
        int submitError = 0;  // errno refusing the URB itself
        int status = 0;       // URB completion status (0 or a negative errno)
        int actual = 0;       // bytes of the data stage transferred
        bool vanish = false;  // unplug the monitor once this URB is reaped
    };
    // A control URB: the 8 setup bytes and the data stage that followed them.
    ControlResult control(const uint8_t* setup, const uint8_t* data, std::size_t dataLength);

    // An interrupt/bulk URB is submitted; 0 or the errno that refuses it.
    int submitTransfer(uint8_t endpoint);

    struct ReadResult {
        enum State { Wait, Withhold, Done } state = Wait;
        int status = 0;
        std::vector<uint8_t> data;  // what the URB's buffer receives
    };
    // Serves the oldest waiting IN URB with a buffer of bufferLength bytes:
    // Wait while no report is queued, Withhold for a read that is never
    // answered, Done with a status and data otherwise.
    ReadResult serveRead(std::size_t bufferLength);

    // Gone: unplugged (or vanished); every later request fails with ENODEV.
    void markGone();
    bool gone();

    void setFault(const Fault& fault);
    void clearFault();
    Fault fault();

    std::vector<WireEvent> wire();
    void clearWire();
    int opens();
    int endpointWrites();

private:
    bool fire(FaultKind kind, std::optional<Command> command, int readIndex = -1);
    void queueAnswer(uint8_t command, uint8_t selector);
    void queueReports(const std::vector<uint8_t>& bytes, std::size_t count);
    bool driverBound();

    std::mutex lock;
    MonitorSpec monitor;
    Fault activeFault;
    bool driverAttached;
    bool claimed = false;
    bool isGone = false;
    int openCount = 0;
    int endpointWriteCount = 0;
    std::vector<WireEvent> events;
    std::optional<std::size_t> exchangeEvent;   // index in events of the current exchange
    std::optional<Command> exchangeCommand;
    int readAttempts = 0;                       // reads of the current exchange so far
    std::vector<std::vector<uint8_t>> reports;  // input reports waiting to be read
    std::size_t nextReport = 0;
};

}  // namespace usbemu

#endif
