#include "MonitorReports.h"

#include <cstring>

namespace usbemu {
namespace {

constexpr std::size_t kEdidBlock = 128;

// 18-byte display descriptor with a text payload (tag 0xFC name, 0xFF serial,
// 0xFE text): up to 13 characters, ended by a line feed and padded with blanks.
void PutTextDescriptor(std::vector<uint8_t>& edid, std::size_t offset, uint8_t tag, const char* text)
{
    edid[offset + 3] = tag;
    std::size_t length = strlen(text);
    for (std::size_t i = 0; i < 13; ++i) {
        uint8_t c = ' ';
        if (i < length) {
            c = static_cast<uint8_t>(text[i]);
        } else if (i == length) {
            c = '\n';
        }
        edid[offset + 5 + i] = c;
    }
}

}  // namespace

std::vector<uint8_t> MakeOsd(uint8_t resolutionIndex)
{
    std::vector<uint8_t> report(kReportLength, 0);
    // Plausible menu settings around the one field that matters.
    const uint8_t settings[15] = {80, 50, 50, 50, 50, 50, 0, 0, 0, 0, 1, 50, 50, 50, 1};
    memcpy(report.data(), settings, sizeof settings);
    report[15] = resolutionIndex;
    return report;
}

std::vector<uint8_t> MakeEdid()
{
    std::vector<uint8_t> edid(kEdidBlock, 0);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    memcpy(edid.data(), header, sizeof header);
    // Manufacturer "ABC": letters 1, 2, 3 in three 5-bit fields, big-endian.
    edid[8] = 0x04;
    edid[9] = 0x43;
    edid[10] = 0x34;  // product code 0x1234
    edid[11] = 0x12;
    edid[12] = 0x04;  // serial number 0x01020304
    edid[13] = 0x03;
    edid[14] = 0x02;
    edid[15] = 0x01;
    edid[16] = 12;    // week 12
    edid[17] = 23;    // 2013
    edid[18] = 1;     // EDID 1.3
    edid[19] = 3;
    edid[20] = 0x0E;  // analog input, separate/composite sync, sync on green
    edid[21] = 30;    // 30 x 23 cm
    edid[22] = 23;
    edid[23] = 0x78;  // gamma 2.2
    edid[24] = 0xEA;  // standby, suspend, active off; RGB colour; preferred timing first
    const uint8_t chroma[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    memcpy(edid.data() + 25, chroma, sizeof chroma);
    edid[35] = 0x21;  // 640x480@60, 800x600@60
    edid[36] = 0x08;  // 1024x768@60
    edid[37] = 0x00;
    // Standard timings: 1024x768@60, 800x600@75, 640x480@75, the rest unused.
    const uint8_t standard[16] = {0x61, 0x40, 0x45, 0x4F, 0x31, 0x4F, 0x01, 0x01,
                                  0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
    memcpy(edid.data() + 38, standard, sizeof standard);
    // Preferred detailed timing: 1024x768 at 65 MHz (60 Hz), 300 x 230 mm.
    const uint8_t timing[18] = {0x64, 0x19, 0x00, 0x40, 0x41, 0x00, 0x26, 0x30, 0x18,
                                0x88, 0x36, 0x00, 0x2C, 0xE6, 0x10, 0x00, 0x00, 0x18};
    memcpy(edid.data() + 54, timing, sizeof timing);
    // Range limits: 56-75 Hz, 30-61 kHz, 80 MHz.
    const uint8_t range[18] = {0x00, 0x00, 0x00, 0xFD, 0x00, 0x38, 0x4B, 0x1E, 0x3D,
                               0x08, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    memcpy(edid.data() + 72, range, sizeof range);
    PutTextDescriptor(edid, 90, 0xFC, "EMU MONITOR");
    PutTextDescriptor(edid, 108, 0xFF, "0000001");
    edid[126] = 0;    // no extension block
    FixEdidChecksum(edid);
    return edid;
}

void FixEdidChecksum(std::vector<uint8_t>& edid)
{
    for (std::size_t block = 0; block + kEdidBlock <= edid.size() && block < 2 * kEdidBlock; block += kEdidBlock) {
        uint8_t sum = 0;
        for (std::size_t i = block; i < block + kEdidBlock - 1; ++i) {
            sum = static_cast<uint8_t>(sum + edid[i]);
        }
        edid[block + kEdidBlock - 1] = static_cast<uint8_t>(0x100 - sum);
    }
}

}  // namespace usbemu
