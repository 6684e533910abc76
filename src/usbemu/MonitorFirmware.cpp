#include "MonitorFirmware.h"

#include <algorithm>
#include <cerrno>

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

MonitorFirmware::MonitorFirmware(const MonitorSpec& spec) : monitor(spec), driverAttached(spec.kernelDriverBound)
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
    return driverAttached || activeFault.kind == FaultKind::DetachFails;
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
    if (interface >= monitor.numInterfaces) {
        return EINVAL;
    }
    if (interface != 0 || !driverBound()) {
        return ENODATA;
    }
    driver = "usbhid";
    return 0;
}

int MonitorFirmware::disconnectDriver(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface >= monitor.numInterfaces) {
        return EINVAL;
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

int MonitorFirmware::connectDriver(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface >= monitor.numInterfaces) {
        return EINVAL;
    }
    if (interface == 0) {
        if (claimed) {
            return EBUSY;
        }
        driverAttached = true;
    }
    return 0;
}

int MonitorFirmware::claim(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface >= monitor.numInterfaces) {
        return ENOENT;
    }
    if (fire(FaultKind::ClaimFails, std::nullopt)) {
        return EBUSY;
    }
    if (interface == 0) {
        if (driverBound()) {
            return EBUSY;  // the kernel driver still holds it
        }
        claimed = true;
    }
    return 0;
}

int MonitorFirmware::release(unsigned interface)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (interface >= monitor.numInterfaces) {
        return ENOENT;
    }
    if (interface == 0) {
        if (!claimed) {
            return EINVAL;
        }
        claimed = false;
    }
    return 0;
}

MonitorFirmware::ControlResult MonitorFirmware::control(const uint8_t* setup, const uint8_t* data,
                                                        std::size_t dataLength)
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
    // Like usbfs: a request to an interface claims it for the caller, which
    // fails while the kernel driver holds it.
    if ((event.bmRequestType & 0x1F) == 0x01 && (event.wIndex & 0xFF) == 0 && !claimed) {
        if (driverBound()) {
            result.submitError = EBUSY;
            return result;
        }
        claimed = true;
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

int MonitorFirmware::submitTransfer(uint8_t endpoint)
{
    std::lock_guard<std::mutex> guard(lock);
    if (isGone) {
        return ENODEV;
    }
    if (monitor.numInterfaces == 0 || monitor.numEndpoints == 0 || endpoint != monitor.endpoint) {
        return ENOENT;
    }
    if (!claimed) {
        if (driverBound()) {
            return EBUSY;
        }
        claimed = true;
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
