// What an EDID base block says about the monitor's identity beyond the
// driver's record: the product name and serial-number text of its display
// descriptors, the product code, the numeric serial number and the model
// year. Pure decoding of the 128 bytes; no checksum or header check (the
// caller decides whether the block is trusted).
#ifndef PNLMON_EDIDIDENTITY_H
#define PNLMON_EDIDIDENTITY_H

#include <cstddef>
#include <cstdint>
#include <string>

class EdidIdentity {
public:
    static const size_t kBlockLength = 128;

    // False (and everything absent) when fewer than 128 bytes are given.
    bool decode(const unsigned char* bytes, size_t length);

    // Product name descriptors (tag 0xFC), joined when split over several;
    // trailing blanks dropped (also from the serial text).
    bool hasProductName = false;
    std::string productName;
    // Serial number text descriptor (tag 0xFF).
    bool hasSerialString = false;
    std::string serialString;
    // Bytes 10-11, little-endian.
    uint16_t productCode = 0;
    // Bytes 12-15, little-endian; absent when zero.
    bool hasSerialNumber = false;
    uint32_t serialNumber = 0;
    // Week byte 0xFF: byte 17 is the model year (+1990).
    bool hasModelYear = false;
    unsigned int modelYear = 0;

private:
    // The text of a display descriptor: up to 13 bytes, ending at the first
    // line feed or NUL.
    static std::string DescriptorText(const unsigned char* payload);
    static void TrimEnd(std::string& text);
};

#endif
