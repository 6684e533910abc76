#include "InventoryFields.h"

#include "MonitorReports.h"

namespace usbemu {
namespace {

void PutText(std::vector<uint8_t>& report, std::size_t offset, std::size_t width, const std::string& text)
{
    for (std::size_t i = 0; i < width && i < text.size(); ++i) {
        report[offset + i] = static_cast<uint8_t>(text[i]);
    }
}

void PutU32(std::vector<uint8_t>& report, std::size_t offset, uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        report[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::vector<uint8_t> InventoryFields::bytes() const
{
    std::vector<uint8_t> report(kReportLength, 0);
    PutText(report, 0, 4, firmwareRevision);
    PutText(report, 4, 4, machine);
    PutText(report, 8, 3, model);
    PutText(report, 11, 7, serialNumber);
    PutU32(report, 18, powerOnSeconds);
    PutU32(report, 22, backlightOnSeconds);
    report[26] = brightness;
    report[27] = status0;
    report[28] = status1;
    for (std::size_t i = 0; i < status2to7.size(); ++i) {
        report[29 + i] = status2to7[i];
    }
    return report;
}

}  // namespace usbemu
