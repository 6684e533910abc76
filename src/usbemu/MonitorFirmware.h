// The emulated monitor's firmware: what it answers to each usbfs request that
// reaches it, its faults, and the record of the exchanges it saw. Plain C++;
// UsbfsDevice translates the usbfs ioctls into these calls.
//
// The requests arrive on umockdev's worker thread while tests read the record
// and change faults on their own thread, so every operation takes the
// firmware's lock.
#ifndef PNLMON_USBEMU_MONITORFIRMWARE_H
#define PNLMON_USBEMU_MONITORFIRMWARE_H

#include <chrono>
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

    // An open file of the monitor's device node (one umockdev ioctl client).
    // Interface claims belong to a file, as with usbfs. 0 is no file.
    using FileId = std::uint64_t;
    static constexpr FileId kNoFile = 0;
    // The claims of "another program" that EmulatedBus::holdInterface makes
    // without opening the node.
    static constexpr FileId kOtherProgram = ~FileId{0};

    // usbfs requests from an open file. Each returns 0, or the errno the
    // ioctl fails with.
    int capabilities();                                   // libusb asks this once per open
    int getDriver(unsigned interface, std::string& driver);
    // USBDEVFS_DISCONNECT unbinds whatever holds the interface; when that is
    // another file's claim, that file is returned in unboundFile.
    int disconnectDriver(unsigned interface, FileId& unboundFile);
    // USBDEVFS_CONNECT; bound tells whether the kernel driver took the
    // interface (the ioctl then returns 1, as the kernel's does).
    int connectDriver(unsigned interface, bool& bound);
    int claim(unsigned interface, FileId file);
    // USBDEVFS_DISCONNECT_CLAIM: flags and driver as usbdevfs_disconnect_claim.
    int disconnectClaim(unsigned interface, unsigned flags, const std::string& driver, FileId file,
                        FileId& unboundFile);
    int release(unsigned interface, FileId file);
    // The file was closed (or its process ended): its claims are released.
    // A kernel driver detached for it stays detached.
    void releaseAll(FileId file);
    // Whether the last EBUSY of a claim (explicit or on the way) came from
    // another open file's claim; resets it.
    bool takeBusyByFile();

    // Another program claims the interface for `duration` (zero: until
    // endHold). A bound kernel driver is detached for it and bound again when
    // the hold ends, as a program using libusb's auto-detach would do.
    // False (nothing changes) when an open file holds the interface or the
    // interface does not exist.
    bool hold(unsigned interface, std::chrono::milliseconds duration);
    void endHold(unsigned interface);
    // What GETDRIVER would answer: "usbhid", "usbfs" or "" (nothing holds it).
    std::string holderName(unsigned interface);

    struct ControlResult {
        int submitError = 0;  // errno refusing the URB itself
        int status = 0;       // URB completion status (0 or a negative errno)
        int actual = 0;       // bytes of the data stage transferred
        bool vanish = false;  // unplug the monitor once this URB is reaped
    };
    // A control URB: the 8 setup bytes and the data stage that followed them.
    // Like usbfs, a request to an interface the file has not claimed claims
    // it on the way (EBUSY when someone else holds it).
    ControlResult control(const uint8_t* setup, const uint8_t* data, std::size_t dataLength, FileId file);

    // An interrupt/bulk URB is submitted; 0 or the errno that refuses it.
    int submitTransfer(uint8_t endpoint, FileId file);

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
    void expireHold();
    FileId holderOf(unsigned interface);
    int claimLocked(unsigned interface, FileId file);
    // ENODEV once the monitor is gone, EINVAL for an interface it does not
    // have, else 0.
    int interfaceCheckLocked(unsigned interface);
    // Ends the claim on the interface, which must be held; a file's claim
    // goes to unboundFile, another program's hold just ends.
    void endClaimLocked(unsigned interface, FileId& unboundFile);

    std::mutex lock;
    MonitorSpec monitor;
    Fault activeFault;
    bool driverAttached;
    std::vector<FileId> holders;   // per interface: the file that claimed it, or kNoFile
    std::optional<std::chrono::steady_clock::time_point> holdEnds;  // of kOtherProgram's hold
    bool rebindAfterHold = false;
    bool busyByFile = false;
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
