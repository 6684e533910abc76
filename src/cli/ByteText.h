// Text fields of the monitors are bytes the monitor chose: a blank identity
// memory reads 0xFF, a faulty one anything. ByteText shows such bytes
// without losing any and without harming the reader:
//  - on a terminal, every byte that is not printable UTF-8 text (control
//    characters, DEL, C1 controls, malformed sequences) appears as \xHH,
//    and a backslash as \\, so the text can be read back exactly;
//  - in JSON, a string that is not valid UTF-8 keeps its key with each bad
//    byte replaced by U+FFFD, and a sibling key "<key>Bytes" holds all its
//    bytes in hex (for a list of strings, a list of hex strings, one per
//    element). Valid strings are unchanged and get no sibling.
#ifndef PNLMON_BYTETEXT_H
#define PNLMON_BYTETEXT_H

#include <nlohmann/json.hpp>
#include <string>

class ByteText {
public:
    static bool IsUtf8(const std::string& text);
    // Valid UTF-8: each byte that starts no valid sequence becomes U+FFFD.
    static std::string Utf8Replaced(const std::string& text);
    // Lower-case hex digits, two per byte, nothing between.
    static std::string Hex(const std::string& text);
    // Safe to print on a terminal, and reversible (see above).
    static std::string ForTerminal(const std::string& text);
    // Makes every string in the document valid UTF-8 by the JSON rule above.
    static void MakeJsonSafe(nlohmann::json& document);
    // The suffix of the sibling keys.
    static const char* const kBytesSuffix;
};

#endif
