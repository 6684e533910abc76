#include "Inventory.h"

#include "SupportedMonitorTable.h"
#include "TextEscape.h"
#include "log.h"

namespace {

const unsigned int kSecondsPerHour = 3600;

const char kReportName[] = "an inventory report";

// Status byte 1: a clear pair of bits marks the input as active.
const unsigned char kVgaInactiveBits = 0x03;
const unsigned char kDisplayPortInactiveBits = 0x0C;

// A report as a monitor of the first family would send it.
const unsigned char kSampleReport[sizeof(_DEV_INFO)] = {
    '1', '.', '0', '7',                     // firmware revision
    '4', '8', '2', '0',                     // machine type
    '5', 'G', 'B',                          // model
    'Z', 'K', '4', '2', '0', '1', '7',      // serial number
    0x10, 0xBB, 0x43, 0x00,                 // 4438800 s = 1233 h
    0x00, 0x0B, 0x37, 0x00,                 // 3607296 s = 1002 h
    80,                                     // brightness
    0x00,                                   // no backlight fault
    0x0C,                                   // VGA active
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

unsigned int LittleEndian32(const unsigned char* bytes)
{
    return static_cast<unsigned int>(bytes[0]) | (static_cast<unsigned int>(bytes[1]) << 8) |
           (static_cast<unsigned int>(bytes[2]) << 16) |
           (static_cast<unsigned int>(bytes[3]) << 24);
}

}  // namespace

Inventory::Inventory()
    : vid(0),
      pid(0),
      powerOnHours(0),
      backlightPowerOnHours(0),
      backlightBrightnessPercent(0),
      backlightFault(0),
      videoSource(VideoSourceUnknown)
{
    LogQuick(LEVEL_DEBUG, "Inventory Constructed");
}

Inventory::~Inventory()
{
    clear();
    LogQuick(LEVEL_DEBUG, "Inventory Destroyed");
}

bool Inventory::initialise(const char* rawBytes, unsigned int rawBytesLen, unsigned short _vid,
                           unsigned short _pid, Rejection* why)
{
    Rejection ignored;
    Rejection& rejection = why != nullptr ? *why : ignored;
    rejection.clear();
    clear();
    if (rawBytes == nullptr) {
        LogQuick(LEVEL_ERROR, "Inventory::initialise - rawBytes - no buffer");
        rejection.noBuffer(kReportName, sizeof(_DEV_INFO));
        return false;
    }
    if (rawBytesLen < sizeof(_DEV_INFO)) {
        Log(LEVEL_ERROR, "Inventory::initialise - rawBytesLen - wanted %d, got %d",
            static_cast<int>(sizeof(_DEV_INFO)), static_cast<int>(rawBytesLen));
        rejection.tooShort(kReportName, rawBytesLen, sizeof(_DEV_INFO));
        return false;
    }
    vid = _vid;
    pid = _pid;

    const unsigned char* raw = reinterpret_cast<const unsigned char*>(rawBytes);
    // Every byte of a text field becomes a character, NUL bytes included.
    firmwareRevision.assign(rawBytes + offsetof(_DEV_INFO, fwrev), sizeof(_DEV_INFO::fwrev));
    machine.assign(rawBytes + offsetof(_DEV_INFO, mchn), sizeof(_DEV_INFO::mchn));
    model.assign(rawBytes + offsetof(_DEV_INFO, mdl), sizeof(_DEV_INFO::mdl));
    serialNumber.assign(rawBytes + offsetof(_DEV_INFO, srl), sizeof(_DEV_INFO::srl));

    powerOnHours = LittleEndian32(raw + offsetof(_DEV_INFO, poh)) / kSecondsPerHour;
    backlightPowerOnHours = LittleEndian32(raw + offsetof(_DEV_INFO, blpoh)) / kSecondsPerHour;
    backlightBrightnessPercent = raw[offsetof(_DEV_INFO, bghtnss)];
    backlightFault = static_cast<unsigned short>((raw[offsetof(_DEV_INFO, sts0)] & 0x01) + 1);
    setVideoSource(raw[offsetof(_DEV_INFO, sts1)]);

    ___dump();
    return true;
}

VideoSource Inventory::getVideoSource()
{
    return videoSource;
}

std::string Inventory::getVideoSourceString()
{
    switch (videoSource) {
    case VideoSourceVGA:
        return "VGA";
    case VideoSourceDisplayPort:
        return "DisplayPort";
    default:
        return "Unknown";
    }
}

bool Inventory::isSarn()
{
    return SupportedMonitorTable::family(vid, pid) == SupportedMonitorTable::kFamilySarn;
}

bool Inventory::isTilmerv()
{
    unsigned short family = SupportedMonitorTable::family(vid, pid);
    return family == SupportedMonitorTable::kFamilyTilo || family == SupportedMonitorTable::kFamilyMerv;
}

bool Inventory::___test()
{
    const SupportedMonitorTable::Row* first = SupportedMonitorTable::begin();
    bool result = initialise(reinterpret_cast<const char*>(kSampleReport), sizeof(kSampleReport),
                             first->vid, first->pid);
    ___dump();
    return result;
}

void Inventory::___dump()
{
    Log(LEVEL_DEBUG, "firmwareRevision: %s", TextEscape::ForLog(firmwareRevision).c_str());
    Log(LEVEL_DEBUG, "machine: %s", TextEscape::ForLog(machine).c_str());
    Log(LEVEL_DEBUG, "model: %s", TextEscape::ForLog(model).c_str());
    Log(LEVEL_DEBUG, "serialNumber: %s", TextEscape::ForLog(serialNumber).c_str());
    Log(LEVEL_DEBUG, "powerOnHours: %d", static_cast<int>(powerOnHours));
    Log(LEVEL_DEBUG, "backlightPowerOnHours: %d", static_cast<int>(backlightPowerOnHours));
    Log(LEVEL_DEBUG, "backlightBrightnessPercent: %d", backlightBrightnessPercent);
    Log(LEVEL_DEBUG, "backlightFault %x", static_cast<unsigned int>(backlightFault));
    Log(LEVEL_DEBUG, "videoSource: %s", getVideoSourceString().c_str());
}

void Inventory::clear()
{
    vid = 0;
    pid = 0;
    firmwareRevision.clear();
    machine.clear();
    model.clear();
    serialNumber.clear();
    powerOnHours = 0;
    backlightPowerOnHours = 0;
    backlightBrightnessPercent = 0;
    backlightFault = 0;
    videoSource = VideoSourceUnknown;
}

void Inventory::setVideoSource(unsigned char status1)
{
    videoSource = VideoSourceUnknown;
    if (isSarn()) {
        // The family with both inputs: DisplayPort wins when both pairs are clear.
        if ((status1 & kDisplayPortInactiveBits) == 0) {
            videoSource = VideoSourceDisplayPort;
        } else if ((status1 & kVgaInactiveBits) == 0) {
            videoSource = VideoSourceVGA;
        }
    } else if (isTilmerv()) {
        if ((status1 & kVgaInactiveBits) == 0) {
            videoSource = VideoSourceVGA;
        }
    }
}
