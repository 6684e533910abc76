// Decoder of the 128-byte EDID base block of a monitor: manufacturer, date,
// screen size, colour, supported and preferred timings, power management.
// Everything else it reads is written to the log as a readable dump.
#ifndef PNLMON_EDID_H
#define PNLMON_EDID_H

#include <string>

#include "Rejection.h"
#include "display.h"

class Edid {
public:
    // Size of the base block; only these bytes are ever read.
    static constexpr int kBlockLength = 128;

    Edid();
    ~Edid();

    // Validates and decodes one base block (length at least 128; an
    // extension block that follows is not examined). False, with an error
    // line and no field touched, for a missing or short buffer, a bad
    // checksum or a wrong header. Decoding appends to the lists: decode one
    // block per object. why, when given, receives the reason (kNone after a
    // decode).
    bool initialise(const unsigned char* rawBytes, int rawBytesLen, Rejection* why = nullptr);
    // Drops the decoded mark only; the values stay.
    void clear();

    bool validateLength(unsigned int len);
    bool validateChecksum(unsigned char* raw);
    bool validateProlog(unsigned char* raw);

    // Decodes the built-in sample (a base block and one extension block).
    bool ___test();

    bool init;
    unsigned char edidMajorVersion;
    unsigned char edidMinorVersion;
    std::string manufacturerName;
    std::string manufactureDate;
    unsigned int horizontalScreenSize;  // millimetres
    unsigned int verticalScreenSize;    // millimetres
    bool supportsColor;
    str_list_t supportedResolutionsAndRefreshRates;
    std::string preferredResolutionAndRefreshRate;
    str_list_t powerManagementModes;

private:
    void decodeManufacturer(const unsigned char* raw);
    void decodeManufactureDate(const unsigned char* raw);
    void decodeScreenSize(const unsigned char* raw);
    void decodeFeatures(const unsigned char* raw, bool digital);
    void decodeEstablishedTimings(const unsigned char* raw);
    void decodeStandardTimings(const unsigned char* raw);
    void decodeDescriptor(const unsigned char* descriptor, int index);
    void decodeDetailedTiming(const unsigned char* descriptor, int index);
    void decodeDisplayDescriptor(const unsigned char* descriptor);
};

#endif
