#include "FaultCell.h"

#include "MonitorReports.h"

namespace faults {

const char* const kHealthyId = "7427-A10-1111111";
const char* const kVgaFaultyId = "7428-B20-2222222";
const char* const kDpFaultyId = "7429-C30-3333333";

namespace {

using usbemu::FaultKind;

const char kBadInit[] = "QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init";

std::string AddedLine(bool displayPort)
{
    return std::string("QavHidDisplayList::addQavHidDisplay - added device ") +
           (displayPort ? kDpFaultyId : kVgaFaultyId) + " to list";
}

const uint8_t kInventory = 0x01;
const uint8_t kEdid = 0x0B;
const uint8_t kOsd = 0x0D;

// The commands sent up to and including the exchange that fails.
std::vector<uint8_t> CommandsUpTo(Exchange exchange)
{
    switch (exchange) {
    case Exchange::BeforeExchanges:
        return {};
    case Exchange::Inventory:
        return {kInventory};
    case Exchange::Edid128:
    case Exchange::Edid256:
        return {kInventory, kEdid};
    case Exchange::Osd:
        break;
    }
    return {kInventory, kEdid, kOsd};
}

const char* ExchangeId(Exchange exchange)
{
    switch (exchange) {
    case Exchange::BeforeExchanges:
        return "Setup";
    case Exchange::Inventory:
        return "Inventory";
    case Exchange::Edid128:
        return "Edid128";
    case Exchange::Edid256:
        return "Edid256";
    case Exchange::Osd:
        break;
    }
    return "Osd";
}

usbemu::Command CommandOf(Exchange exchange)
{
    switch (exchange) {
    case Exchange::Inventory:
        return usbemu::Command::Inventory;
    case Exchange::Osd:
        return usbemu::Command::Osd;
    default:
        return usbemu::Command::Edid;
    }
}

// The line the monitor's initialise adds after a failed exchange.
std::vector<std::string> ExchangeFailedLines(Exchange exchange)
{
    switch (exchange) {
    case Exchange::Inventory:
        return {"QavHidDisplay::initialise - getInventory failed"};
    case Exchange::Edid128:
        return {"getEdid128() 0"};
    case Exchange::Edid256:
        return {"getEdid256() 0"};
    default:
        return {};
    }
}

// A transfer fault at one exchange that ends the exchange: the monitor is
// left out of the list.
FaultCell TransferFailure(const std::string& fault, FaultKind kind, Exchange exchange, const std::string& line)
{
    FaultCell cell;
    cell.id = fault + "_" + ExchangeId(exchange);
    cell.fault = fault;
    cell.exchange = exchange;
    cell.kind = kind;
    cell.lines.push_back(line);
    for (const std::string& more : ExchangeFailedLines(exchange)) {
        cell.lines.push_back(more);
    }
    cell.lines.push_back(kBadInit);
    cell.commands = CommandsUpTo(exchange);
    cell.opens = 1;
    cell.vanishes = kind == FaultKind::VanishMidExchange;
    cell.slow = kind == FaultKind::ReadTimeout;
    return cell;
}

// A short read: the report is incomplete, so the exchange fails like any
// other failed read and the monitor is left out.
FaultCell ShortRead(Exchange exchange)
{
    const int length = exchange == Exchange::Inventory ? 18 : 10;
    FaultCell cell = TransferFailure("ShortRead", FaultKind::ShortRead, exchange,
                                     "HidIo::interruptRead - short read, " + std::to_string(length) + " of 48 bytes");
    // For the inventory, the identity fields (bytes 0-17) arrive and
    // everything after them is lost.
    cell.shortLength = length;
    return cell;
}

FaultCell Setup(const std::string& id, const std::string& fault, const std::vector<std::string>& lines, int opens)
{
    FaultCell cell;
    cell.id = id;
    cell.fault = fault;
    cell.lines = lines;
    cell.lines.push_back(kBadInit);
    cell.opens = opens;
    return cell;
}

std::vector<FaultCell> Build()
{
    std::vector<FaultCell> cells;

    FaultCell none;
    none.id = "None";
    none.fault = "none (control)";
    none.listed = true;
    none.commands = CommandsUpTo(Exchange::Osd);
    none.opens = 1;
    none.lines = {AddedLine(false)};
    cells.push_back(none);

    // Before any exchange.
    FaultCell scan;
    scan.id = "DeviceDescriptor_Scan";
    scan.fault = "device descriptor unreadable (bus scan)";
    scan.how = Provocation::DescriptorAtScan;
    scan.scanSkips = true;
    scan.lines = {"QavHidDisplayList::enumerate - libusb_get_device_descriptor failed, error=-1, policy is to "
                  "continue discovery"};
    cells.push_back(scan);

    FaultCell read = Setup("DeviceDescriptor_Device", "device descriptor unreadable (monitor)",
                           {"libusb_get_device_descriptor failed, err=ffffffff,-1"}, 0);
    read.how = Provocation::DescriptorAtRead;
    cells.push_back(read);

    FaultCell config = Setup("NoActiveConfig", "active configuration unreadable",
                             {"libusb_get_active_config_descriptor failed, err=fffffffb,-5\n"}, 0);
    config.kind = FaultKind::NoActiveConfig;
    cells.push_back(config);

    FaultCell zero = Setup("ZeroInterfaces", "0 interfaces", {"not enough interfaces in config\n"}, 0);
    zero.interfaces = 0;
    cells.push_back(zero);

    FaultCell four = Setup("FourInterfaces", "4 interfaces", {"too many interfaces in config: 4\n"}, 0);
    four.interfaces = 4;
    cells.push_back(four);

    FaultCell noEndpoint = Setup("NoEndpoint", "no endpoint", {"no endpoints in interface config\n"}, 0);
    noEndpoint.endpoints = 0;
    cells.push_back(noEndpoint);

    FaultCell open = Setup("OpenFails", "open fails", {"QavHidDisplay::initialise - failed to open sysfs device"}, 0);
    open.kind = FaultKind::OpenFails;
    cells.push_back(open);

    // A failed kernel-driver query goes straight to the claim, which works
    // when no driver is bound ...
    FaultCell query;
    query.id = "GetDriverFails_Unbound";
    query.fault = "kernel-driver query fails, no driver bound";
    query.kind = FaultKind::GetDriverFails;
    query.listed = true;
    query.commands = CommandsUpTo(Exchange::Osd);
    query.opens = 1;
    query.lines = {AddedLine(false)};
    cells.push_back(query);

    // ... and while one is: libusb's auto-detach unbinds it as part of the
    // claim.
    FaultCell queryBound = query;
    queryBound.id = "GetDriverFails_Bound";
    queryBound.fault = "kernel-driver query fails, driver bound";
    queryBound.kernelDriverBound = true;
    cells.push_back(queryBound);

    FaultCell detach = Setup("DetachFails", "detach fails",
                             {"HidIo::claimInterface - trying detach the current driver from interface #0, error=-99"},
                             1);
    detach.kind = FaultKind::DetachFails;
    detach.kernelDriverBound = true;
    cells.push_back(detach);

    // EBUSY: another program holds the interface. Tried again, then left
    // out as busy (an INFO line with its place, no error line): a monitor
    // busy when first seen has no earlier record to keep.
    FaultCell claim;
    claim.id = "ClaimFails";
    claim.fault = "claim fails (busy)";
    claim.kind = FaultKind::ClaimFails;
    claim.opens = 1;
    cells.push_back(claim);

    // At each exchange.
    for (Exchange exchange : {Exchange::Inventory, Exchange::Edid128, Exchange::Edid256, Exchange::Osd}) {
        cells.push_back(TransferFailure("SetReportFails", FaultKind::SetReportFails, exchange,
                                        "HidIo::setReport - failed, 0xfffffff7"));
        cells.push_back(TransferFailure("ReadFails", FaultKind::ReadFails, exchange,
                                        "HidIo::interruptRead - failed, 0xffffffff"));
        cells.push_back(TransferFailure("Stall", FaultKind::Stall, exchange,
                                        "HidIo::interruptRead - failed, 0xfffffff7"));
        cells.push_back(TransferFailure("ReadTimeout", FaultKind::ReadTimeout, exchange,
                                        "HidIo::interruptRead - failed, 0xfffffff9"));
        cells.push_back(ShortRead(exchange));
        cells.push_back(TransferFailure("VanishMidExchange", FaultKind::VanishMidExchange, exchange,
                                        "HidIo::interruptRead - failed, 0xfffffffc"));
    }

    // A read fault on the last read of each EDID exchange: the reads before
    // it are discarded with the exchange. A short read there leaves the
    // decoded first block alone (256: only the undecoded second block).
    FaultCell lastRead = TransferFailure("ReadFails", FaultKind::ReadFails, Exchange::Edid128,
                                         "HidIo::interruptRead - failed, 0xffffffff");
    lastRead.id = "ReadFails_Edid128_LastRead";
    lastRead.readIndex = 2;
    cells.push_back(lastRead);
    FaultCell lastRead256 = TransferFailure("ReadFails", FaultKind::ReadFails, Exchange::Edid256,
                                            "HidIo::interruptRead - failed, 0xffffffff");
    lastRead256.id = "ReadFails_Edid256_LastRead";
    lastRead256.readIndex = 5;
    cells.push_back(lastRead256);
    FaultCell secondBlock = ShortRead(Exchange::Edid256);
    secondBlock.id = "ShortRead_Edid256_SecondBlock";
    secondBlock.readIndex = 3;
    cells.push_back(secondBlock);

    return cells;
}

}  // namespace

std::string FaultCell::exchangeName() const
{
    switch (exchange) {
    case Exchange::BeforeExchanges:
        return "before the exchanges";
    case Exchange::Inventory:
        return "inventory";
    case Exchange::Edid128:
        return "EDID 128";
    case Exchange::Edid256:
        return "EDID 256 (DisplayPort)";
    case Exchange::Osd:
        break;
    }
    return "OSD";
}

const std::vector<FaultCell>& FaultCell::All()
{
    static const std::vector<FaultCell> cells = Build();
    return cells;
}

const char* FaultCell::DefaultTimeoutCell()
{
    return "ReadTimeout_Osd";
}

usbemu::Command FaultCell::command() const
{
    return CommandOf(exchange);
}

}  // namespace faults
