#include "Edid.h"

#include <cstdio>

#include "TextEscape.h"
#include "log.h"

namespace {

const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Offsets in the base block.
const int kManufacturerOffset = 8;
const int kProductCodeOffset = 10;
const int kSerialNumberOffset = 12;
const int kWeekOffset = 16;
const int kYearOffset = 17;
const int kVersionOffset = 18;
const int kRevisionOffset = 19;
const int kVideoInputOffset = 20;
const int kHorizontalSizeOffset = 21;
const int kVerticalSizeOffset = 22;
const int kGammaOffset = 23;
const int kFeaturesOffset = 24;
const int kEstablishedOffset = 35;
const int kStandardOffset = 38;
const int kStandardSlots = 8;
const int kDescriptorOffset = 54;
const int kDescriptorLength = 18;
const int kDescriptors = 4;
const int kExtensionCountOffset = 126;
const int kChecksumOffset = 127;

const int kFirstYear = 1990;

const char kReportName[] = "an EDID base block";

// The established timings, one per bit from bit 7 of byte 35 on; the
// remaining seven bits of byte 37 carry nothing.
const char* const kEstablishedTimings[] = {
    "720 x 400 @ 70Hz IBM VGA",
    "720 x 400 @ 88Hz IBM XGA2",
    "640 x 480 @ 60Hz IBM VGA",
    "640 x 480 @ 67Hz Apple Mac II",
    "640 x 480 @ 72Hz VESA",
    "640 x 480 @ 75Hz VESA",
    "800 x 600 @ 56Hz VESA",
    "800 x 600 @ 60Hz VESA",
    "800 x 600 @ 72Hz VESA",
    "800 x 600 @ 75Hz VESA",
    "832 x 624 @ 75Hz Apple Mac II",
    "1024 x 768 @ 87Hz(I) IBM - Interlaced",
    "1024 x 768 @ 60Hz VESA",
    "1024 x 768 @ 70Hz VESA",
    "1024 x 768 @ 75Hz VESA",
    "1280 x 1024 @ 75Hz VESA",
    "1152 x 870 @ 75Hz VESA",
};

// Standard timing aspect ratios by bits 7-6 of the second byte, as
// vertical = horizontal * numerator / denominator.
const struct {
    unsigned int numerator;
    unsigned int denominator;
} kStandardAspects[4] = {{10, 16}, {3, 4}, {4, 5}, {9, 16}};

// Display descriptor kinds that carry only a fixed log text.
const struct {
    unsigned char kind;
    const char* text;
} kDescriptorKinds[] = {
    {0xFB, " Color point data"},
    {0xFA, " Standard timing identifications"},
    {0xF9, " Display Color Management (DCM) data"},
    {0xF8, " CVT 3 byte timing codes"},
    {0xF7, " Established timings III"},
    {0x10, " Dummy descriptor"},
};

const char* const kDigitalColourTexts[4] = {
    "  RGB 4:4:4",
    "  RGB 4:4:4 & YCrCb 4:4:4",
    "  RGB 4:4:4 & YCrCb 4:2:2",
    "  RGB 4:4:4 & YCrCb 4:4:4 & YCrCb 4:2:2",
};
const char* const kAnalogColourTexts[4] = {
    "  Monochrome grayscale display",
    "  RGB Color display",
    "  Non-RGB Color display",
    "  Display color type undefined",
};

// A valid base block with one extension block, for the self-test.
const unsigned char kSampleBlocks[256] = {
    0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x6A, 0xCB, 0x76, 0x46, 0x45, 0x23, 0x01, 0x00,
    0x0C, 0x1D, 0x01, 0x03, 0x0E, 0x1E, 0x17, 0x78, 0xEA, 0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26,
    0x0F, 0x50, 0x54, 0xAF, 0xCE, 0x00, 0x61, 0x4F, 0x45, 0x59, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x64, 0x19, 0x00, 0x40, 0x41, 0x00, 0x26, 0x30, 0x18, 0x88,
    0x36, 0x00, 0x30, 0xE4, 0x10, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0xFD, 0x00, 0x32, 0x4B, 0x1E,
    0x3D, 0x08, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x00, 0x00, 0xFC, 0x00, 0x5A,
    0x56, 0x4B, 0x20, 0x50, 0x4F, 0x53, 0x31, 0x35, 0x41, 0x0A, 0x20, 0x20, 0x00, 0x00, 0x00, 0xFF,
    0x00, 0x5A, 0x4B, 0x31, 0x39, 0x41, 0x30, 0x30, 0x34, 0x32, 0x0A, 0x20, 0x20, 0x20, 0x01, 0x48,
    0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7,
};

// The sum of the block's bytes modulo 256: 0 for an intact block.
unsigned int ChecksumResidue(const unsigned char* raw)
{
    unsigned int sum = 0;
    for (int i = 0; i < Edid::kBlockLength; ++i) {
        sum += raw[i];
    }
    return sum & 0xFF;
}

unsigned int LittleEndian16(const unsigned char* bytes)
{
    return static_cast<unsigned int>(bytes[0]) | (static_cast<unsigned int>(bytes[1]) << 8);
}

// The text of a display descriptor: bytes 5-17 up to the first line feed.
std::string DescriptorText(const unsigned char* descriptor)
{
    std::string text;
    for (int i = 5; i < kDescriptorLength && descriptor[i] != 0x0A; ++i) {
        text += static_cast<char>(descriptor[i]);
    }
    return text;
}

}  // namespace

Edid::Edid()
    : init(false),
      edidMajorVersion(1),
      edidMinorVersion(0),
      horizontalScreenSize(0),
      verticalScreenSize(0),
      supportsColor(true),
      preferredResolutionAndRefreshRate("Unknown")
{
    LogQuick(LEVEL_DEBUG, "Edid Constructed");
}

Edid::~Edid()
{
    clear();
    LogQuick(LEVEL_DEBUG, "Edid destroyed");
}

void Edid::clear()
{
    init = false;
}

bool Edid::validateLength(unsigned int len)
{
    if (len < static_cast<unsigned int>(kBlockLength)) {
        Log(LEVEL_ERROR, "Edid::validateLength - raw bytes length - wanted 128, got %d",
            static_cast<int>(len));
        return false;
    }
    return true;
}

bool Edid::validateChecksum(unsigned char* raw)
{
    unsigned int sum = ChecksumResidue(raw);
    if (sum != 0) {
        Log(LEVEL_ERROR, "Edid::validateChecksum - bad checksum %d", static_cast<int>(sum));
        return false;
    }
    return true;
}

bool Edid::validateProlog(unsigned char* raw)
{
    for (size_t i = 0; i < sizeof(kHeader); ++i) {
        if (raw[i] != kHeader[i]) {
            LogQuick(LEVEL_ERROR, "Edid::validateProlog - invalid edid prolog");
            return false;
        }
    }
    return true;
}

bool Edid::initialise(const unsigned char* rawBytes, int rawBytesLen, Rejection* why)
{
    Rejection ignored;
    Rejection& rejection = why != nullptr ? *why : ignored;
    rejection.clear();
    if (rawBytes == nullptr) {
        LogQuick(LEVEL_ERROR, "Edid::initialise - rawBytes - no buffer");
        rejection.noBuffer(kReportName, kBlockLength);
        return false;
    }
    if (rawBytesLen < 0) {
        // A negative length must not pass the unsigned length check.
        Log(LEVEL_ERROR, "Edid::validateLength - raw bytes length - wanted 128, got %d",
            rawBytesLen);
        rejection.tooShort(kReportName, rawBytesLen, kBlockLength);
        return false;
    }
    // The checks only read; they take the block as the caller's bytes.
    unsigned char* raw = const_cast<unsigned char*>(rawBytes);
    if (!validateLength(static_cast<unsigned int>(rawBytesLen))) {
        rejection.tooShort(kReportName, rawBytesLen, kBlockLength);
        return false;
    }
    if (!validateChecksum(raw)) {
        rejection.badChecksum(ChecksumResidue(raw));
        return false;
    }
    if (!validateProlog(raw)) {
        rejection.badHeader();
        return false;
    }

    LogQuick(LEVEL_DEBUG, "---------");
    LogQuick(LEVEL_DEBUG, "EDID Data");
    LogQuick(LEVEL_DEBUG, "---------");

    decodeManufacturer(raw);

    char text[32];
    snprintf(text, sizeof(text), "%08x",
             LittleEndian16(raw + kSerialNumberOffset) |
                 (LittleEndian16(raw + kSerialNumberOffset + 2) << 16));
    Log(LEVEL_DEBUG, "Serial Number=%s", text);

    decodeManufactureDate(raw);

    edidMajorVersion = raw[kVersionOffset];
    edidMinorVersion = raw[kRevisionOffset];
    Log(LEVEL_DEBUG, "EDID Struct Version=%d.%d", edidMajorVersion, edidMinorVersion);

    unsigned char videoInput = raw[kVideoInputOffset];
    bool digital = (videoInput & 0x80) != 0;
    Log(LEVEL_DEBUG, "Video Input Definition: (%s) 0x%02x", digital ? "digital" : "analog",
        videoInput);

    decodeScreenSize(raw);

    unsigned char gamma = raw[kGammaOffset];
    if (gamma == 0xFF) {
        Log(LEVEL_DEBUG, "Display Gamma undefined");
    } else {
        Log(LEVEL_DEBUG, "Display Gamma %1.2f", (gamma + 100) / 100.0);
    }

    decodeFeatures(raw, digital);
    decodeEstablishedTimings(raw);
    decodeStandardTimings(raw);
    for (int index = 0; index < kDescriptors; ++index) {
        decodeDescriptor(raw + kDescriptorOffset + index * kDescriptorLength, index);
    }

    Log(LEVEL_DEBUG, "Number of extension blocks 0x%02x", raw[kExtensionCountOffset]);
    Log(LEVEL_DEBUG, "Checksum = 0x%02x", raw[kChecksumOffset]);

    init = true;
    return true;
}

void Edid::decodeManufacturer(const unsigned char* raw)
{
    // Three 5-bit letter codes, 1 = A; other codes are taken as they are.
    unsigned int w = (static_cast<unsigned int>(raw[kManufacturerOffset]) << 8) |
                     raw[kManufacturerOffset + 1];
    manufacturerName.clear();
    manufacturerName += static_cast<char>(((w >> 10) & 31) + 0x40);
    manufacturerName += static_cast<char>(((w >> 5) & 31) + 0x40);
    manufacturerName += static_cast<char>((w & 31) + 0x40);
    Log(LEVEL_DEBUG, "manufacturer=%s", manufacturerName.c_str());

    char productCode[16];
    snprintf(productCode, sizeof(productCode), "%04x", LittleEndian16(raw + kProductCodeOffset));
    Log(LEVEL_DEBUG, "Product Code=%s", productCode);
    std::string pnpId = manufacturerName + productCode;
    Log(LEVEL_DEBUG, "Device PnP Id=%s", pnpId.c_str());
}

void Edid::decodeManufactureDate(const unsigned char* raw)
{
    unsigned int week = raw[kWeekOffset];
    std::string date = std::to_string(raw[kYearOffset] + kFirstYear);
    if (week == 0) {
        date += " (Week not specified)";
    } else if (week <= 54) {
        date += " Week " + std::to_string(week);
    }
    manufactureDate = date;
    Log(LEVEL_DEBUG, "Manufacture Date: %s", manufactureDate.c_str());
}

void Edid::decodeScreenSize(const unsigned char* raw)
{
    unsigned int h = raw[kHorizontalSizeOffset];
    unsigned int v = raw[kVerticalSizeOffset];
    if (h != 0 && v != 0) {
        horizontalScreenSize = h * 10;
        verticalScreenSize = v * 10;
        Log(LEVEL_DEBUG, "Screen Size (HxV): %dx%d mm", static_cast<int>(horizontalScreenSize),
            static_cast<int>(verticalScreenSize));
    } else if (h == 0 && v == 0) {
        Log(LEVEL_DEBUG, "Screen Size / Aspect Ratio undefined");
    } else if (v == 0) {
        Log(LEVEL_DEBUG, "Aspect Ratio: ");
        Log(LEVEL_DEBUG, "(landscape) %1.2f:1", (h + 99) / 100.0);
    } else {
        Log(LEVEL_DEBUG, "Aspect Ratio: ");
        Log(LEVEL_DEBUG, "(portrait) %1.2f:1", 100.0 / (v + 99));
    }
}

void Edid::decodeFeatures(const unsigned char* raw, bool digital)
{
    unsigned char f = raw[kFeaturesOffset];
    Log(LEVEL_DEBUG, "Features: 0x%02x", f);

    bool standby = (f & 0x80) != 0;
    bool suspend = (f & 0x40) != 0;
    bool activeOff = (f & 0x20) != 0;
    if (!standby && !suspend && activeOff) {
        Log(LEVEL_DEBUG, "  DPM Power Mgmt");
        Log(LEVEL_DEBUG, "    Only ON,Sleep,OFF supported");
        powerManagementModes.push_back("On");
        powerManagementModes.push_back("Sleep");
        powerManagementModes.push_back("Off");
    } else if (!suspend && !activeOff) {
        Log(LEVEL_DEBUG, "  Uknown Power Mgmt");
        Log(LEVEL_DEBUG, "    Only ON,OFF supported");
        powerManagementModes.push_back("On");
        powerManagementModes.push_back("Off");
    } else {
        Log(LEVEL_DEBUG, "  DPMS Power Mgmt");
        if (standby) {
            powerManagementModes.push_back("Standby");
            Log(LEVEL_DEBUG, "    Standby supported");
        }
        if (suspend) {
            powerManagementModes.push_back("Suspend");
            Log(LEVEL_DEBUG, "    Suspend supported");
        }
        if (activeOff) {
            powerManagementModes.push_back("Active Off");
            Log(LEVEL_DEBUG, "    Active Off");
        }
    }

    unsigned int colourType = (f >> 3) & 0x03;
    if (digital) {
        Log(LEVEL_DEBUG, "%s", kDigitalColourTexts[colourType]);
        supportsColor = true;
    } else {
        Log(LEVEL_DEBUG, "%s", kAnalogColourTexts[colourType]);
        supportsColor = colourType != 0;
    }

    if (f & 0x04) {
        Log(LEVEL_DEBUG, "  RGB Default color space");
    }
    if (f & 0x02) {
        Log(LEVEL_DEBUG, "  PTM includes npf & prr");
    }
    if (f & 0x01) {
        Log(LEVEL_DEBUG, "  Display is continuous freqency");
    }
}

void Edid::decodeEstablishedTimings(const unsigned char* raw)
{
    Log(LEVEL_DEBUG, "Established Timings");
    const size_t count = sizeof(kEstablishedTimings) / sizeof(kEstablishedTimings[0]);
    for (size_t bit = 0; bit < count; ++bit) {
        unsigned char byte = raw[kEstablishedOffset + bit / 8];
        if (byte & (0x80 >> (bit % 8))) {
            supportedResolutionsAndRefreshRates.push_back(kEstablishedTimings[bit]);
            Log(LEVEL_DEBUG, "\t%s", kEstablishedTimings[bit]);
        }
    }
}

void Edid::decodeStandardTimings(const unsigned char* raw)
{
    Log(LEVEL_DEBUG, "Standard Timings");
    for (int slot = 0; slot < kStandardSlots; ++slot) {
        unsigned int b0 = raw[kStandardOffset + slot * 2];
        unsigned int b1 = raw[kStandardOffset + slot * 2 + 1];
        if ((b0 == 1 && b1 == 1) || b0 == 0) {
            continue;
        }
        unsigned int horizontal = (b0 + 31) * 8;
        unsigned int aspect = (b1 >> 6) & 0x03;
        unsigned int vertical =
            horizontal * kStandardAspects[aspect].numerator / kStandardAspects[aspect].denominator;
        unsigned int refresh = (b1 & 0x3F) + 60;
        char text[64];
        snprintf(text, sizeof(text), "%d x %d @ %dHz VESA STD", static_cast<int>(horizontal),
                 static_cast<int>(vertical), static_cast<int>(refresh));
        supportedResolutionsAndRefreshRates.push_back(text);
        Log(LEVEL_DEBUG, "\t%d x %d @ %dHz VESA STD", static_cast<int>(horizontal),
            static_cast<int>(vertical), static_cast<int>(refresh));
    }
}

void Edid::decodeDescriptor(const unsigned char* descriptor, int index)
{
    Log(LEVEL_DEBUG, "Display Descriptor #%d", index);
    if (descriptor[0] == 0 && descriptor[1] == 0 && descriptor[2] == 0) {
        decodeDisplayDescriptor(descriptor);
    } else {
        decodeDetailedTiming(descriptor, index);
    }
}

void Edid::decodeDetailedTiming(const unsigned char* d, int index)
{
    unsigned int pixelClock = LittleEndian16(d) * 10000u;
    unsigned int hActive = d[2] + ((d[4] >> 4) & 0x0F) * 256u;
    unsigned int hBlanking = d[3] + (d[4] & 0x0F) * 256u;
    unsigned int vActive = d[5] + ((d[7] >> 4) & 0x0F) * 256u;
    unsigned int vBlanking = d[6] + (d[7] & 0x0F) * 256u;
    unsigned int pixelsPerFrame = (hActive + hBlanking) * (vActive + vBlanking);
    // A timing without a total has no refresh rate: report 0.
    unsigned int refresh = pixelsPerFrame == 0 ? 0 : pixelClock / pixelsPerFrame;

    if (index == 0) {
        char text[64];
        snprintf(text, sizeof(text), "%d x %d @ %dHz", static_cast<int>(hActive),
                 static_cast<int>(vActive), static_cast<int>(refresh));
        preferredResolutionAndRefreshRate = text;
        Log(LEVEL_DEBUG, " Preferred Display timing");
    } else {
        Log(LEVEL_DEBUG, " Detailed Display timing");
    }
    Log(LEVEL_DEBUG, "\t%d x %d @ %d", static_cast<int>(hActive), static_cast<int>(vActive),
        static_cast<int>(refresh));
}

void Edid::decodeDisplayDescriptor(const unsigned char* d)
{
    unsigned char kind = d[3];
    switch (kind) {
    case 0xFF:
        Log(LEVEL_DEBUG, " Display product serial number %s", TextEscape::ForLog(DescriptorText(d)).c_str());
        return;
    case 0xFE:
        Log(LEVEL_DEBUG, " Alphanumeric data string %s", TextEscape::ForLog(DescriptorText(d)).c_str());
        return;
    case 0xFC:
        Log(LEVEL_DEBUG, " Display product name %s", TextEscape::ForLog(DescriptorText(d)).c_str());
        return;
    case 0xFD:
        // The raw limits; offsets the flags in byte 4 may announce are not added.
        Log(LEVEL_DEBUG, " Display range limits Horiz %d..%dKHz, Vert %d..%dHz", d[7], d[8],
            d[5], d[6]);
        Log(LEVEL_DEBUG, "    Max pixel clock (video bandwidth) %dMHz", d[9] * 10);
        return;
    default:
        break;
    }
    for (const auto& entry : kDescriptorKinds) {
        if (entry.kind == kind) {
            Log(LEVEL_DEBUG, "%s", entry.text);
            return;
        }
    }
    if (kind <= 0x0F) {
        Log(LEVEL_DEBUG, " Manufacturer specific display descriptor 0x%02x", kind);
    } else {
        Log(LEVEL_DEBUG, " VESA Reserved");
    }
}

bool Edid::___test()
{
    clear();
    return initialise(kSampleBlocks, static_cast<int>(sizeof(kSampleBlocks)));
}
