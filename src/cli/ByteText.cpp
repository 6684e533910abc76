#include "ByteText.h"

#include <vector>

const char* const ByteText::kBytesSuffix = "Bytes";

size_t ByteText::SequenceLength(const std::string& text, size_t i)
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
    // Overlong forms, UTF-16 surrogates and values above U+10FFFF.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool ByteText::IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        size_t length = SequenceLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string ByteText::Utf8Replaced(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = SequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string ByteText::Hex(const std::string& text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

std::string ByteText::ForTerminal(const std::string& text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char c) {
        out += "\\x";
        out += kDigits[c >> 4];
        out += kDigits[c & 0x0F];
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = SequenceLength(text, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
        } else if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            // U+0080 to U+009F: C1 control characters.
            escape(c);
            escape(static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

void ByteText::MakeJsonSafe(nlohmann::json& document)
{
    if (document.is_array()) {
        for (nlohmann::json& element : document) {
            if (element.is_string()) {
                element = Utf8Replaced(element.get<std::string>());
            } else {
                MakeJsonSafe(element);
            }
        }
        return;
    }
    if (!document.is_object()) {
        return;
    }
    std::vector<std::pair<std::string, nlohmann::json>> siblings;
    for (auto item = document.begin(); item != document.end(); ++item) {
        nlohmann::json& value = item.value();
        if (value.is_string()) {
            const std::string& text = value.get_ref<const std::string&>();
            if (!IsUtf8(text)) {
                siblings.emplace_back(item.key() + kBytesSuffix, Hex(text));
                value = Utf8Replaced(text);
            }
        } else if (value.is_array()) {
            bool bad = false;
            for (const nlohmann::json& element : value) {
                if (element.is_string() && !IsUtf8(element.get_ref<const std::string&>())) {
                    bad = true;
                }
            }
            if (bad) {
                nlohmann::json hex = nlohmann::json::array();
                for (const nlohmann::json& element : value) {
                    hex.push_back(element.is_string() ? nlohmann::json(Hex(element.get<std::string>())) : nullptr);
                }
                siblings.emplace_back(item.key() + kBytesSuffix, hex);
            }
            MakeJsonSafe(value);
        } else {
            MakeJsonSafe(value);
        }
    }
    for (auto& sibling : siblings) {
        document[sibling.first] = std::move(sibling.second);
    }
}
