#include "Rejection.h"

#include <cstdio>

namespace {

const char* const kNames[] = {"none", "no buffer", "too short", "bad checksum", "bad header"};

}  // namespace

Rejection::Rejection() : why(kNone), report(""), got(0), wanted(0), residue(0)
{
}

const char* Rejection::name(Reason reason)
{
    size_t index = static_cast<size_t>(reason);
    return index < sizeof(kNames) / sizeof(kNames[0]) ? kNames[index] : "unknown";
}

std::string Rejection::text() const
{
    char numbers[64];
    switch (why) {
    case kNoBuffer:
    case kTooShort:
        snprintf(numbers, sizeof(numbers), "%lld bytes, ", got);
        return std::string("too short: ") + numbers + report + " needs " +
               std::to_string(static_cast<int>(wanted));
    case kBadChecksum:
        return "bad checksum: bytes 0-127 sum to " + std::to_string(residue) + " modulo 256, not 0";
    case kBadHeader:
        return "bad header: bytes 0-7 are not 00 ff ff ff ff ff ff 00";
    default:
        return "not rejected";
    }
}

void Rejection::clear()
{
    *this = Rejection();
}

void Rejection::noBuffer(const char* what, long long wantedLength)
{
    tooShort(what, 0, wantedLength);
    why = kNoBuffer;
}

void Rejection::tooShort(const char* what, long long gotLength, long long wantedLength)
{
    why = kTooShort;
    report = what != nullptr ? what : "";
    got = gotLength;
    wanted = wantedLength;
}

void Rejection::badChecksum(unsigned int sum)
{
    why = kBadChecksum;
    residue = sum;
}

void Rejection::badHeader()
{
    why = kBadHeader;
}
