#include "HexDumpText.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

const char kEdidDecodeHeader[] = "edid-decode (hex):";

bool IsHexDigits(const std::string& word)
{
    if (word.empty()) {
        return false;
    }
    for (char c : word) {
        if (!isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

int Nibble(char c)
{
    return isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

void AppendPairs(const std::string& digits, std::vector<unsigned char>& bytes)
{
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(Nibble(digits[i]) * 16 + Nibble(digits[i + 1])));
    }
}

// Parses a dump's offset column. False when it does not fit the dump's
// largest size: such a dump is refused before anything is expanded.
bool ParseOffset(const std::string& digits, size_t& offset)
{
    offset = 0;
    for (char c : digits) {
        offset = offset * 16 + static_cast<size_t>(Nibble(c));
        if (offset > HexDumpText::kMaxBytes) {
            return false;
        }
    }
    return true;
}

std::string Limit()
{
    return std::to_string(HexDumpText::kMaxBytes) + " bytes, the most a dump may hold (no monitor report is larger)";
}

std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (isspace(static_cast<unsigned char>(c)) || c == ',') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

std::string Shorten(const std::string& text)
{
    return text.size() > 40 ? text.substr(0, 40) + "..." : text;
}

std::string Trim(const std::string& text)
{
    size_t start = 0;
    while (start < text.size() && isspace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    size_t end = text.size();
    while (end > start && isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(start, end - start);
}

}  // namespace

bool HexDumpText::IsText(const std::vector<unsigned char>& content)
{
    if (content.empty()) {
        return false;
    }
    bool blank = false;
    bool allHex = true;
    for (unsigned char c : content) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            blank = true;
        } else if (c < 0x20 || c >= 0x7F) {
            return false;
        } else if (!isxdigit(c)) {
            allHex = false;
        }
    }
    // One run of printable bytes with no blank is a dump only when it is
    // all hex digits; otherwise it may be a report of printable bytes.
    return blank || allHex;
}

bool HexDumpText::Read(const std::string& input, std::vector<unsigned char>& bytes, std::string& error)
{
    bytes.clear();
    std::vector<std::string> lines;
    {
        std::istringstream stream(input);
        std::string line;
        while (std::getline(stream, line)) {
            lines.push_back(line);
        }
    }
    // edid-decode's output: only its hex block, up to the dashed rule.
    size_t first = 0;
    size_t last = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (Trim(lines[i]) == kEdidDecodeHeader) {
            first = i + 1;
            for (size_t j = first; j < lines.size(); ++j) {
                if (Trim(lines[j]).compare(0, 3, "---") == 0) {
                    last = j;
                    break;
                }
            }
            break;
        }
    }

    std::vector<unsigned char> previousLine;  // for hexdump -C's "*"
    bool repeat = false;
    bool sawLine = false;
    for (size_t n = first; n < last; ++n) {
        const std::string line = Trim(lines[n]);
        const std::string where = "line " + std::to_string(n + 1);
        if (line.empty()) {
            continue;
        }
        if (line == "*") {
            if (previousLine.empty()) {
                error = where + ": '*' repeats no line";
                return false;
            }
            repeat = true;
            continue;
        }
        std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;  // only commas
        }
        bool hasOffset = false;
        size_t offset = 0;
        std::vector<std::string> data;

        size_t colon = words[0].find(':');
        if (colon != std::string::npos && colon + 1 == words[0].size() && IsHexDigits(words[0].substr(0, colon))) {
            // xxd: the hex groups end at the two blanks before the text column.
            hasOffset = true;
            if (!ParseOffset(words[0].substr(0, colon), offset)) {
                error = where + ": offset " + Shorten(words[0].substr(0, colon)) + " lies beyond " + Limit();
                return false;
            }
            size_t start = line.find(':') + 1;
            while (start < line.size() && line[start] == ' ') {
                ++start;
            }
            size_t end = line.find("  ", start);
            data = Words(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        } else if (words[0].size() >= 7 && IsHexDigits(words[0]) &&
                   (line.find('|') != std::string::npos || (words.size() == 1 && sawLine))) {
            // hexdump -C: the text column sits between bars; a lone offset
            // ends the dump.
            hasOffset = true;
            if (!ParseOffset(words[0], offset)) {
                error = where + ": offset " + Shorten(words[0]) + " lies beyond " + Limit();
                return false;
            }
            size_t bar = line.find('|');
            data = Words(line.substr(words[0].size(), bar == std::string::npos ? std::string::npos
                                                                                 : bar - words[0].size()));
            for (const std::string& word : data) {
                if (word.size() != 2) {
                    error = where + ": '" + Shorten(word) + "' is not one hex byte";
                    return false;
                }
            }
        } else {
            data = words;
        }

        if (hasOffset) {
            if (repeat && offset > bytes.size()) {
                while (bytes.size() + previousLine.size() <= offset && !previousLine.empty()) {
                    bytes.insert(bytes.end(), previousLine.begin(), previousLine.end());
                }
            }
            if (offset != bytes.size()) {
                error = where + ": offset " + words[0] + " does not follow the " + std::to_string(bytes.size()) +
                        " bytes before it";
                return false;
            }
        }
        repeat = false;
        std::vector<unsigned char> lineBytes;
        for (std::string word : data) {
            if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
                word = word.substr(2);
            }
            if (!IsHexDigits(word) || word.size() % 2 != 0) {
                error = where + ": '" + Shorten(word) + "' is not a whole number of hex bytes";
                return false;
            }
            AppendPairs(word, lineBytes);
        }
        if (!lineBytes.empty()) {
            previousLine = lineBytes;
        }
        if (lineBytes.size() > kMaxBytes - bytes.size()) {
            error = where + ": the dump holds more than " + Limit();
            return false;
        }
        bytes.insert(bytes.end(), lineBytes.begin(), lineBytes.end());
        sawLine = true;
    }
    if (bytes.empty()) {
        error = "no hex bytes found";
        return false;
    }
    return true;
}

std::string HexDumpText::Format(const unsigned char* bytes, size_t length, const std::string& indent)
{
    std::string out;
    char cell[24];
    for (size_t i = 0; i < length; i += 16) {
        snprintf(cell, sizeof(cell), "%04zx:", i);
        out += indent + cell;
        for (size_t k = i; k < i + 16 && k < length; ++k) {
            snprintf(cell, sizeof(cell), " %02x", bytes[k]);
            out += cell;
        }
        out += "\n";
    }
    return out;
}
