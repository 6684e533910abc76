#include "Fault.h"

namespace usbemu {
namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

const KindName kKindNames[] = {
    {FaultKind::None, "None"},
    {FaultKind::GetDriverFails, "GetDriverFails"},
    {FaultKind::DetachFails, "DetachFails"},
    {FaultKind::ClaimFails, "ClaimFails"},
    {FaultKind::OpenFails, "OpenFails"},
    {FaultKind::SetReportFails, "SetReportFails"},
    {FaultKind::ReadFails, "ReadFails"},
    {FaultKind::Stall, "Stall"},
    {FaultKind::ReadTimeout, "ReadTimeout"},
    {FaultKind::ShortRead, "ShortRead"},
    {FaultKind::VanishMidExchange, "VanishMidExchange"},
    {FaultKind::NoActiveConfig, "NoActiveConfig"},
};

}  // namespace

const char* FaultKindName(FaultKind kind)
{
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "?";
}

bool ParseFaultKind(const std::string& text, FaultKind& kind)
{
    for (const KindName& entry : kKindNames) {
        if (text == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

}  // namespace usbemu
