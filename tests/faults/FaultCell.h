// One cell of the fault matrix: a USB fault, the exchange it hits, and what
// the driver must make of it (whether the monitor stays listed, what its
// record then holds, the log lines, what reached the monitor).
#ifndef PNLMON_TEST_FAULTS_FAULTCELL_H
#define PNLMON_TEST_FAULTS_FAULTCELL_H

#include <cstdint>
#include <string>
#include <vector>

#include "Fault.h"

namespace faults {

// Where the fault strikes. Descriptor, open and claim faults come before the
// first exchange.
enum class Exchange { BeforeExchanges, Inventory, Edid128, Edid256, Osd };

// How the fault is provoked: by the emulated monitor, or (for the device
// descriptor, which libusb never fails) by the interposed libusb call.
enum class Provocation { Monitor, DescriptorAtScan, DescriptorAtRead };

// How the faulty monitor's record differs from its fault-free record when it
// stays listed.
enum class RecordChange {
    None,
    InventoryShort,   // counters, brightness and status read as zero
    EdidDefaults,     // the EDID did not decode: the decoder's defaults
    OsdShort,         // resolution index 0: 640 x 350 @ 70
};

struct FaultCell {
    std::string id;            // unique, letters, digits and underscores
    std::string fault;         // the fault as the table names it
    Exchange exchange = Exchange::BeforeExchanges;
    Provocation how = Provocation::Monitor;
    usbemu::FaultKind kind = usbemu::FaultKind::None;
    int readIndex = 0;
    int shortLength = 10;
    bool kernelDriverBound = false;
    uint8_t interfaces = 1;
    uint8_t endpoints = 1;

    // Expected of every enumeration that meets the fault.
    bool listed = false;                 // the faulty monitor is in the records
    bool vanishes = false;               // it leaves the bus during the first enumeration
    RecordChange change = RecordChange::None;
    std::vector<std::string> lines;      // driver log lines, each once, in this order
    std::vector<uint8_t> commands;       // the commands it received, in order
    int opens = 0;                       // successful opens of it
    bool scanSkips = false;              // not even counted as found
    bool slow = false;                   // costs a 3000 ms transfer timeout

    std::string exchangeName() const;
    // The exchange the emulated fault is limited to.
    usbemu::Command command() const;
    // The monitor plugged as the faulty one: the DisplayPort monitor for the
    // 256-byte EDID, a VGA monitor otherwise.
    bool displayPort() const { return exchange == Exchange::Edid256; }

    // Every cell of the matrix, in table order.
    static const std::vector<FaultCell>& All();
    // The cell that keeps one transfer timeout in the default test run.
    static const char* DefaultTimeoutCell();
};

// Identities of the monitors in every cell.
extern const char* const kHealthyId;     // the healthy neighbour
extern const char* const kVgaFaultyId;   // the faulty monitor on VGA
extern const char* const kDpFaultyId;    // the faulty monitor on DisplayPort

}  // namespace faults

#endif
