#include "Osd.h"

#include <cstddef>

#include "log.h"

namespace {

const char kReportName[] = "an OSD report";

}  // namespace

Osd::Osd() : currentHorizontalResolution(0), currentVerticalResolution(0), currentRefreshRate(0)
{
    LogQuick(LEVEL_DEBUG, "Osd Constructed");
}

Osd::~Osd()
{
    clear();
    LogQuick(LEVEL_DEBUG, "Osd Destroyed");
}

bool Osd::initialise(const unsigned char* rawBytes, int rawBytesLen, Rejection* why)
{
    Rejection ignored;
    Rejection& rejection = why != nullptr ? *why : ignored;
    rejection.clear();
    clear();
    if (rawBytes == nullptr) {
        LogQuick(LEVEL_ERROR, "Osd::initialise - rawBytes - no buffer");
        rejection.noBuffer(kReportName, sizeof(_OSD_INFO));
        return false;
    }
    if (rawBytesLen < static_cast<int>(sizeof(_OSD_INFO))) {
        Log(LEVEL_ERROR, "Osd::initialise - rawBytesLen - wanted %d, got %d",
            static_cast<int>(sizeof(_OSD_INFO)), rawBytesLen);
        rejection.tooShort(kReportName, rawBytesLen, sizeof(_OSD_INFO));
        return false;
    }

    // The firmware sends the index as a signed byte: 0x80-0xFF widen to
    // indexes far beyond the table, which the lookup rejects.
    signed char mode = static_cast<signed char>(rawBytes[offsetof(_OSD_INFO, resolution)]);
    size_t index = static_cast<size_t>(static_cast<long>(mode));

    Resolution res;
    resolutionList.getResolution(index, res);
    if (res.horiz == 0) {
        LogQuick(LEVEL_DEBUG, "Osd::initialise - Current resolution not found in table - using 0,0,0");
    } else {
        currentHorizontalResolution = res.horiz;
        currentVerticalResolution = res.vert;
        currentRefreshRate = res.rfrsh;
    }

    ___dump();
    return true;
}

void Osd::clear()
{
    currentHorizontalResolution = 0;
    currentVerticalResolution = 0;
    currentRefreshRate = 0;
}

void Osd::___dump()
{
    Log(LEVEL_DEBUG, "Current Horizontal Resolution = %d", static_cast<int>(currentHorizontalResolution));
    Log(LEVEL_DEBUG, "Current Vertical Resolution = %d", static_cast<int>(currentVerticalResolution));
    Log(LEVEL_DEBUG, "Current Refresh Rate = %d", static_cast<int>(currentRefreshRate));
}
