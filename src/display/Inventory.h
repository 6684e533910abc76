// The decoded inventory report of one monitor: identity strings, hour
// counters, backlight state and the active video input.
#ifndef PNLMON_INVENTORY_H
#define PNLMON_INVENTORY_H

#include <cstddef>
#include <string>

#include "Rejection.h"

enum VideoSource_t : int {
    VideoSourceUnknown = 0,
    VideoSourceVGA = 1,
    VideoSourceDisplayPort = 2
};
typedef VideoSource_t VideoSource;

// Byte layout of the inventory report as the monitor sends it. The decoder
// reads the bytes at these offsets; it never overlays the struct on the
// caller's buffer.
#pragma pack(push, 1)
struct _DEV_INFO {
    char fwrev[4];           // firmware revision
    char mchn[4];            // machine type
    char mdl[3];             // model
    char srl[7];             // serial number
    unsigned char poh[4];    // power-on seconds, little-endian
    unsigned char blpoh[4];  // backlight-on seconds, little-endian
    unsigned char bghtnss;   // backlight brightness, percent
    unsigned char sts0;      // bit 0: backlight fault
    unsigned char sts1;      // bits 0-1 and 2-3: video input state
    unsigned char sts2;
    unsigned char sts3;
    unsigned char sts4;
    unsigned char sts5;
    unsigned char sts6;
    unsigned char sts7;
};
#pragma pack(pop)
static_assert(sizeof(_DEV_INFO) == 35, "the inventory report is 35 bytes");

class Inventory {
public:
    Inventory();
    virtual ~Inventory();

    // Decodes one report of at least 35 bytes (the rest is not looked at)
    // from the monitor with the given USB ids. False, with an error line,
    // for a short or missing buffer; the record is then empty. why, when
    // given, receives the reason (kNone after a decode).
    bool initialise(const char* rawBytes, unsigned int rawBytesLen, unsigned short _vid,
                    unsigned short _pid, Rejection* why = nullptr);

    VideoSource getVideoSource();
    std::string getVideoSourceString();

    // The monitor families, from the ids of the last successful decode.
    bool isSarn();
    bool isTilmerv();

    // Decodes the built-in sample report and dumps it.
    bool ___test();
    // Writes the decoded record to the log.
    void ___dump();

    unsigned short vid;
    unsigned short pid;
    std::string firmwareRevision;
    std::string machine;
    std::string model;
    std::string serialNumber;
    unsigned int powerOnHours;
    unsigned int backlightPowerOnHours;
    unsigned short backlightBrightnessPercent;
    unsigned short backlightFault;  // 0 not decoded, 1 no fault, 2 fault
    VideoSource videoSource;

private:
    void clear();
    void setVideoSource(unsigned char status1);
};

#endif
