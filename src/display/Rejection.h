// Why a decoder turned its bytes down. The decoders fill one in beside their
// bool result when the caller passes one; after a decode the reason is kNone.
#ifndef PNLMON_REJECTION_H
#define PNLMON_REJECTION_H

#include <string>

class Rejection {
public:
    enum Reason : int {
        kNone = 0,     // nothing rejected
        kNoBuffer,     // no bytes at all (a null buffer)
        kTooShort,     // fewer bytes than the report needs
        kBadChecksum,  // EDID: bytes 0-127 do not sum to 0 modulo 256
        kBadHeader,    // EDID: bytes 0-7 are not 00 ff ff ff ff ff ff 00
    };

    Rejection();

    Reason reason() const { return why; }
    bool rejected() const { return why != kNone; }
    // A fixed short name of the reason ("no buffer", "too short", ...).
    const char* name() const { return name(why); }
    static const char* name(Reason reason);
    // One line with the numbers, e.g. "too short: 100 bytes, an EDID base
    // block needs 128"; a missing buffer reads as 0 bytes. "not rejected"
    // for kNone.
    std::string text() const;

    // Set by the decoders. what names the report, e.g. "an OSD report".
    void clear();
    void noBuffer(const char* what, long long wanted);
    void tooShort(const char* what, long long got, long long wanted);
    void badChecksum(unsigned int residue);
    void badHeader();

private:
    Reason why;
    const char* report;
    long long got;
    long long wanted;
    unsigned int residue;
};

#endif
