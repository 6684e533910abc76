#include "MonitorFirmware.h"

#include <algorithm>
#include <cerrno>

#include <linux/usbdevice_fs.h>

#include "InventoryFields.h"

namespace usbemu {
namespace {

constexpr uint8_t kSetReportType = 0x21;   // host to device, class, interface
constexpr uint8_t kSetReport = 0x09;
constexpr uint16_t kOutputReport = 0x0200;
constexpr std::size_t kEdidBlock = 128;

bool IsReadFault(FaultKind kind)
{
    return kind == FaultKind::ReadFails || kind == FaultKind::Stall || kind == FaultKind::ReadTimeout ||
           kind == FaultKind::ShortRead;
}

std::optional<Command> ToCommand(uint8_t code)
{
    switch (code) {
    case static_cast<uint8_t>(Command::Inventory):
        return Command::Inventory;
    case static_cast<uint8_t>(Command::Edid):
        return Command::Edid;
    case static_cast<uint8_t>(Command::Osd):
        return Command::Osd;
    default:
        return std::nullopt;
    }
}

}  // namespace

MonitorFirmware::MonitorFirmware(const MonitorSpec& spec)
    : monitor(spec), driverAttached(spec.kernelDriverBound), holders(spec.numInterfaces, kNoFile)
{
    if (monitor.inventory.empty()) {
        monitor.inventory = InventoryFields{}.bytes();
    }
    if (monitor.edid.empty()) {
        monitor.edid = MakeEdid();
    }
    if (monitor.osd.empty()) {
        monitor.osd = MakeOsd(11);
    }
}

bool MonitorFirmware::fire(FaultKind kind, std::optional<Command> command, int readIndex)
{
    if (activeFault.kind != kind || activeFault.times == 0) {
        return false;
    }
    if (activeFault.command && activeFault.command != command) {
        return false;
    }
    if (readIndex >= 0 && activeFault.readIndex != readIndex) {
        return false;
    }
    if (activeFault.times > 0 && --activeFault.times == 0) {
        activeFault = Fault{};
    }
    return true;
}

bool MonitorFirmware::driverBound()
{
    // A monitor told to refuse the detach must have something to detach.
    return holders.empty() || holders[0] == kNoFile
               ? driverAttached || activeFault.kind == FaultKind::DetachFails
               : false;
}

void MonitorFirmware::expireHold()
{
    if (!holdEnds || std::chrono::steady_clock::now() < *holdEnds) {
        return;
    }
    holdEnds.reset();
    for (FileId& holder : holders) {
        if (holder == kOtherProgram) {
            holder = kNoFile;
        }
    }
    if (rebindAfterHold) {
        driverAttached = true;
        rebindAfterHold = false;
    }
}

MonitorFirmware::FileId MonitorFirmware::holderOf(unsigned interface)
{
    expireHold();
    return interface < holders.size() ? holders[interface] : kNoFile;
}

int MonitorFirmware::claimLocked(unsigned interface, FileId file)
{
    if (interface >= holders.size()) {
        return ENOENT;
    }
    FileId holder = holderOf(interface);
    if (holder == file) {
        return 0;  // claiming again from the same file is fine
    }
    if (holder != kNoFile || (interface == 0 && driverBound())) {
        busyByFile = holder != kNoFile && holder != kOtherProgram;
        return EBUSY;  // another file, or the kernel driver, holds it
    }
    holders[interface] = file;
    return 0;
}

int MonitorFirmware::capabilities()
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    ++openCount;
    return 0;
}

int MonitorFirmware::getDriver(unsigned interface, std::string& driver)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (fire(FaultKind::GetDriverFails, std::nullopt)) {
        return EIO;
    }
    if (interface >= holders.size()) {
        return ENODATA;
    }
    if (holderOf(interface) != kNoFile) {
        driver = "usbfs";
        return 0;
    }
    if (interface != 0 || !driverBound()) {
        return ENODATA;
    }
    driver = "usbhid";
    return 0;
}

int MonitorFirmware::interfaceCheckLocked(unsigned interface)
{
    if (isGone) {
        return ENODEV;
    }
    if (interface >= holders.size()) {
        return EINVAL;
    }
    return 0;
}

void MonitorFirmware::endClaimLocked(unsigned interface, FileId& unboundFile)
{
    FileId holder = holderOf(interface);
    holders[interface] = kNoFile;
    if (holder == kOtherProgram) {
        holdEnds.reset();
        rebindAfterHold = false;
    } else {
        unboundFile = holder;
    }
}

int MonitorFirmware::disconnectDriver(unsigned interface, FileId& unboundFile)
{
    std::lock_guard<std::mutex> guard(lock);
    unboundFile = kNoFile;
    if (int error = interfaceCheckLocked(interface)) {
        return error;
    }
    if (holderOf(interface) != kNoFile) {
        // usbfs is a driver like any other: the claim of that file ends.
        endClaimLocked(interface, unboundFile);
        return 0;
    }
    if (interface != 0 || !driverBound()) {
        return ENODATA;
    }
    if (fire(FaultKind::DetachFails, std::nullopt)) {
        return EIO;
    }
    driverAttached = false;
    return 0;
}

int MonitorFirmware::connectDriver(unsigned interface, bool& bound)
{
    std::lock_guard<std::mutex> guard(lock);
    bound = false;
    if (int error = interfaceCheckLocked(interface)) {
        return error;
    }
    if (holderOf(interface) != kNoFile || (interface == 0 && driverBound())) {
        return EBUSY;
    }
    if (interface == 0) {
        // Only the monitor's HID interface has a kernel driver.
        driverAttached = true;
        bound = true;
    }
    return 0;
}

int MonitorFirmware::claim(unsigned interface, FileId file)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface < holders.size() && holderOf(interface) == file) {
        return 0;
    }
    if (interface < holders.size() && fire(FaultKind::ClaimFails, std::nullopt)) {
        return EBUSY;
    }
    return claimLocked(interface, file);
}

int MonitorFirmware::disconnectClaim(unsigned interface, unsigned flags, const std::string& driver, FileId file,
                                     FileId& unboundFile)
{
    std::lock_guard<std::mutex> guard(lock);
    unboundFile = kNoFile;
    if (int error = interfaceCheckLocked(interface)) {
        return error;
    }
    FileId holder = holderOf(interface);
    std::string current = holder != kNoFile ? "usbfs" : (interface == 0 && driverBound() ? "usbhid" : "");
    if (!current.empty()) {
        if ((flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 && driver != current) {
            return EBUSY;
        }
        if ((flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 && driver == current) {
            busyByFile = holder != kNoFile && holder != kOtherProgram && holder != file;
            return EBUSY;
        }
        if (holder != kNoFile) {
            if (holder != file) {
                endClaimLocked(interface, unboundFile);
            }
        } else if (fire(FaultKind::DetachFails, std::nullopt)) {
            return EIO;
        } else {
            driverAttached = false;
        }
    }
    if (holderOf(interface) != file && fire(FaultKind::ClaimFails, std::nullopt)) {
        return EBUSY;
    }
    return claimLocked(interface, file);
}

int MonitorFirmware::release(unsigned interface, FileId file)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface >= holders.size()) {
        return ENOENT;
    }
    if (holderOf(interface) != file) {
        return EINVAL;  // not this file's claim
    }
    holders[interface] = kNoFile;
    return 0;
}

void MonitorFirmware::releaseAll(FileId file)
{
    std::lock_guard<std::mutex> guard(lock);
    for (FileId& holder : holders) {
        if (holder == file) {
            holder = kNoFile;
        }
    }
}

bool MonitorFirmware::takeBusyByFile()
{
    std::lock_guard<std::mutex> guard(lock);
    bool was = busyByFile;
    busyByFile = false;
    return was;
}

bool MonitorFirmware::hold(unsigned interface, std::chrono::milliseconds duration)
{
    std::lock_guard<std::mutex> guard(lock);
    if (interface >= holders.size()) {
        return false;
    }
    FileId holder = holderOf(interface);
    if (holder != kNoFile && holder != kOtherProgram) {
        return false;
    }
    if (interface == 0 && driverAttached) {
        driverAttached = false;
        rebindAfterHold = true;
    }
    holders[interface] = kOtherProgram;
    if (duration.count() > 0) {
        holdEnds = std::chrono::steady_clock::now() + duration;
    } else {
        holdEnds.reset();
    }
    return true;
}

void MonitorFirmware::endHold(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (interface >= holders.size() || holderOf(interface) != kOtherProgram) {
        return;
    }
    holders[interface] = kNoFile;
    holdEnds.reset();
    if (interface == 0 && rebindAfterHold) {
        driverAttached = true;
        rebindAfterHold = false;
    }
}

std::string MonitorFirmware::holderName(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (interface >= holders.size()) {
        return "";
    }
    if (holderOf(interface) != kNoFile) {
        return "usbfs";
    }
    return interface == 0 && driverBound() ? "usbhid" : "";
}

MonitorFirmware::ControlResult MonitorFirmware::control(const uint8_t* setup, const uint8_t* data,
                                                        std::size_t dataLength, FileId file)
{
    std::lock_guard<std::mutex> guard(lock);
    ControlResult result;
    if (isGone) {
        result.submitError = ENODEV;
        return result;
    }
    WireEvent event;
    event.bmRequestType = setup[0];
    event.bRequest = setup[1];
    event.wValue = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    event.wIndex = static_cast<uint16_t>(setup[4] | setup[5] << 8);
    event.wLength = static_cast<uint16_t>(setup[6] | setup[7] << 8);
    std::size_t stage = std::min<std::size_t>(dataLength, event.wLength);
    if ((event.bmRequestType & 0x80) == 0 && data != nullptr) {
        event.report.assign(data, data + stage);
    }
    // Like usbfs: a (non-vendor) request to an interface claims it for the
    // caller's file, which fails while the kernel driver or another file
    // holds it.
    if ((event.bmRequestType & 0x1F) == 0x01 && (event.bmRequestType & 0x60) != 0x40) {
        int error = claimLocked(event.wIndex & 0xFF, file);
        if (error != 0) {
            result.submitError = error;
            return result;
        }
    }

    bool setReport = event.bmRequestType == kSetReportType && event.bRequest == kSetReport &&
                     event.wValue == kOutputReport && event.wIndex == 0 && event.wLength == kReportLength &&
                     event.report.size() == kReportLength;
    std::optional<Command> command = setReport ? ToCommand(event.report[1]) : std::nullopt;
    if (!setReport || fire(FaultKind::SetReportFails, command)) {
        // A device stalls a request it does not accept.
        event.rejected = true;
        result.status = -EPIPE;
        events.push_back(std::move(event));
        return result;
    }

    // A new command replaces whatever the previous one left unread.
    exchangeEvent = events.size();
    exchangeCommand = command;
    readAttempts = 0;
    queueAnswer(event.report[1], event.report[2]);
    events.push_back(std::move(event));
    result.actual = static_cast<int>(kReportLength);
    if (fire(FaultKind::VanishMidExchange, command)) {
        isGone = true;
        result.vanish = true;
    }
    return result;
}

void MonitorFirmware::queueReports(const std::vector<uint8_t>& bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<uint8_t> report(kReportLength, 0);
        std::size_t offset = i * kReportLength;
        if (offset < bytes.size()) {
            std::size_t length = std::min(kReportLength, bytes.size() - offset);
            std::copy(bytes.begin() + offset, bytes.begin() + offset + length, report.begin());
        }
        reports.push_back(std::move(report));
    }
}

void MonitorFirmware::queueAnswer(uint8_t command, uint8_t selector)
{
    reports.clear();
    nextReport = 0;
    switch (command) {
    case static_cast<uint8_t>(Command::Inventory):
        queueReports(monitor.inventory, 1);
        break;
    case static_cast<uint8_t>(Command::Edid):
        if (selector == 1) {
            queueReports(monitor.edid, 6);   // both blocks, 288 bytes
        } else {
            std::vector<uint8_t> first(monitor.edid.begin(),
                                       monitor.edid.begin() + std::min(kEdidBlock, monitor.edid.size()));
            queueReports(first, 3);          // the base block, 144 bytes
        }
        break;
    case static_cast<uint8_t>(Command::Osd):
        queueReports(monitor.osd, 1);
        break;
    default:
        break;  // unknown commands are acknowledged and not answered
    }
}

int MonitorFirmware::submitTransfer(uint8_t endpoint, FileId file)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (monitor.numInterfaces == 0 || monitor.numEndpoints == 0 || endpoint != monitor.endpoint) {
        return ENOENT;
    }
    int error = claimLocked(0, file);  // the endpoint belongs to interface 0
    if (error != 0) {
        return error;
    }
    if ((endpoint & 0x80) == 0) {
        ++endpointWriteCount;
    }
    return 0;
}

MonitorFirmware::ReadResult MonitorFirmware::serveRead(std::size_t bufferLength)
{
    std::lock_guard<std::mutex> guard(lock);
    ReadResult result;
    if (nextReport >= reports.size()) {
        return result;  // nothing to send: the URB waits
    }
    const std::vector<uint8_t> report = reports[nextReport++];
    int index = readAttempts++;
    result.state = ReadResult::Done;
    FaultKind kind = activeFault.kind;
    int shortLength = activeFault.shortLength;
    if (IsReadFault(kind) && fire(kind, exchangeCommand, index)) {
        switch (kind) {
        case FaultKind::ReadFails:
            result.status = -EPROTO;
            return result;
        case FaultKind::Stall:
            result.status = -EPIPE;
            return result;
        case FaultKind::ReadTimeout:
            result.state = ReadResult::Withhold;
            return result;
        default:  // ShortRead
            result.data.assign(report.begin(),
                               report.begin() + std::clamp<std::size_t>(shortLength < 0 ? 0 : shortLength, 0,
                                                                        report.size()));
            break;
        }
    } else {
        result.data = report;
    }
    if (result.data.size() > bufferLength) {
        // The monitor sends more than the host asked for.
        result.status = -EOVERFLOW;
        result.data.clear();
        return result;
    }
    if (exchangeEvent && *exchangeEvent < events.size()) {
        ++events[*exchangeEvent].readsServed;
    }
    return result;
}

void MonitorFirmware::markGone()
{
    std::lock_guard<std::mutex> guard(lock);
    isGone = true;
}

bool MonitorFirmware::gone()
{
    std::lock_guard<std::mutex> guard(lock);
    return isGone;
}

void MonitorFirmware::setFault(const Fault& fault)
{
    std::lock_guard<std::mutex> guard(lock);
    activeFault = fault;
}

void MonitorFirmware::clearFault()
{
    std::lock_guard<std::mutex> guard(lock);
    activeFault = Fault{};
}

Fault MonitorFirmware::fault()
{
    std::lock_guard<std::mutex> guard(lock);
    return activeFault;
}

std::vector<WireEvent> MonitorFirmware::wire()
{
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

void MonitorFirmware::clearWire()
{
    std::lock_guard<std::mutex> guard(lock);
    events.clear();
    exchangeEvent.reset();
}

int MonitorFirmware::opens()
{
    std::lock_guard<std::mutex> guard(lock);
    return openCount;
}

int MonitorFirmware::endpointWrites()
{
    std::lock_guard<std::mutex> guard(lock);
    return endpointWriteCount;
}

}  // namespace usbemu
