// Decoder of the monitor's on-screen-display report: the video mode the
// monitor is showing now.
#ifndef PNLMON_OSD_H
#define PNLMON_OSD_H

#include "Rejection.h"
#include "ResolutionList.h"

// Byte layout of the OSD report; only resolution is decoded.
struct _OSD_INFO {
    unsigned char brightness;
    unsigned char contrast;
    unsigned char clock;
    unsigned char phase;
    unsigned char hpos;
    unsigned char vpos;
    unsigned char lngge;
    unsigned char transparency;
    unsigned char rpc;
    unsigned char ebll;
    unsigned char csetting;
    unsigned char rgain;
    unsigned char ggain;
    unsigned char bgain;
    unsigned char onoff;
    unsigned char resolution;  // index into the resolution table
    unsigned char resvd0;
    unsigned char resvd1;
    unsigned char resvd2;
    unsigned char resvd4;
    unsigned char resvd5;
    unsigned char resvd6;
    unsigned char resvd7;
    unsigned char resvd8;
};
static_assert(sizeof(_OSD_INFO) == 24, "the OSD report is 24 bytes");

class Osd {
public:
    Osd();
    ~Osd();

    // Decodes one report of at least 24 bytes (the rest is not looked at).
    // False, with an error line, only for a missing or short buffer. A mode
    // index the table does not describe gives 0, 0, 0 and still true. why,
    // when given, receives the reason (kNone after a decode).
    bool initialise(const unsigned char* rawBytes, int rawBytesLen, Rejection* why = nullptr);

    ResolutionList resolutionList;
    unsigned int currentHorizontalResolution;
    unsigned int currentVerticalResolution;
    unsigned int currentRefreshRate;

private:
    void clear();
    void ___dump();
};

#endif
