// Text that came from outside (a monitor's inventory and EDID, a process's
// command line, a configuration file, a CIM request) is shown as \xHH
// wherever its bytes could harm the reader:
//  - ForLog, for log lines and standard error: every byte outside printable
//    ASCII (0x20 to 0x7E) becomes \xHH, so a line stays one line and no
//    escape sequence reaches a terminal;
//  - ForCim, for CIM string values: control characters (C0, DEL, C1) and the
//    bytes of malformed UTF-8 become \xHH; valid UTF-8 characters stay.
// Both end the text at its first NUL byte, as the C strings of the logging
// and CMPI calls always did. Printable ASCII, backslash and double quote
// included, comes out unchanged.
// Shared by both libraries (each links its own copy) and the tools.
#ifndef PNLMON_TEXTESCAPE_H
#define PNLMON_TEXTESCAPE_H

#include <cstddef>
#include <string>

class TextEscape {
public:
    static std::string ForLog(const std::string& text);
    static std::string ForLog(const char* text);
    static std::string ForCim(const std::string& text);
    // The whole text (NUL bytes included) with control characters and
    // malformed UTF-8 as \xHH; with backslashToo a backslash becomes \\,
    // which makes the result reversible (the tools' terminal view).
    static std::string Utf8Escaped(const std::string& text, bool backslashToo);

    // Length of the valid UTF-8 sequence starting at text[i], or 0 (overlong
    // forms, surrogates and values above U+10FFFF are not valid).
    static size_t Utf8Length(const std::string& text, size_t i);
    // True for a two-byte sequence at text[i] that encodes U+0080 to U+009F.
    static bool IsC1Control(const std::string& text, size_t i);
    // Appends "\x" and two lower-case hexadecimal digits.
    static void AppendHex(std::string& out, unsigned char byte);
};

#endif
