#include "TextEscape.h"

#include <cstring>

namespace {
size_t CStringLength(const std::string& text)
{
    size_t end = text.find('\0');
    return end == std::string::npos ? text.size() : end;
}
}  // namespace

void TextEscape::AppendHex(std::string& out, unsigned char byte)
{
    static const char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

size_t TextEscape::Utf8Length(const std::string& text, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    size_t length;
    unsigned int min;
    unsigned int code;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        min = 0x80;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        min = 0x800;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        min = 0x10000;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool TextEscape::IsC1Control(const std::string& text, size_t i)
{
    return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2 &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

std::string TextEscape::ForLog(const std::string& text)
{
    const size_t end = CStringLength(text);
    std::string out;
    out.reserve(end);
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E) {
            AppendHex(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string TextEscape::ForLog(const char* text)
{
    return text == nullptr ? std::string() : ForLog(std::string(text, strlen(text)));
}

std::string TextEscape::ForCim(const std::string& text)
{
    return Utf8Escaped(text.substr(0, CStringLength(text)), false);
}

std::string TextEscape::Utf8Escaped(const std::string& text, bool backslashToo)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            AppendHex(out, c);
            ++i;
        } else if (c == '\\' && backslashToo) {
            out += "\\\\";
            ++i;
        } else if (IsC1Control(text, i)) {
            AppendHex(out, c);
            AppendHex(out, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}
