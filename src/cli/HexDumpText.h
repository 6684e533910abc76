// Hex dumps as people paste them, read back into bytes: plain hex (byte
// pairs separated by blanks or commas, optionally "0x"-prefixed, several
// pairs may run together), xxd's layout ("00000000: 00ff ffff  ..text.."),
// hexdump -C's layout ("00000000  00 ff ff  |..text..|", with "*" for
// repeated lines) and the hex block at the top of edid-decode's output
// (the rest of that output is ignored). Also writes the layout the
// inventory tool uses for raw reports, which it reads back.
#ifndef PNLMON_HEXDUMPTEXT_H
#define PNLMON_HEXDUMPTEXT_H

#include <cstddef>
#include <string>
#include <vector>

class HexDumpText {
public:
    // The most bytes a dump may hold, counting lines that "*" repeats: well
    // above the largest report (an EDID with its extensions), so that a
    // short text cannot ask for an unbounded amount of memory.
    static constexpr size_t kMaxBytes = 64 * 1024;

    // The bytes of the dump; false with a reason naming the line when the
    // text is not a hex dump of a known layout.
    static bool Read(const std::string& text, std::vector<unsigned char>& bytes, std::string& error);

    // True when the content is meant as a hex dump: printable ASCII and
    // white space only, not empty, with at least one blank or else only hex
    // digits. Raw reports hold other bytes (NUL, 0xFF, small numbers).
    static bool IsText(const std::vector<unsigned char>& content);

    // Sixteen bytes a line, each line "indent" + "0000: 00 ff ...", the
    // offset in hex.
    static std::string Format(const unsigned char* bytes, size_t length, const std::string& indent);
};

#endif
