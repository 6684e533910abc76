#include "ByteText.h"

#include "TextEscape.h"

#include <vector>

const char* const ByteText::kBytesSuffix = "Bytes";

bool ByteText::IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        size_t length = TextEscape::Utf8Length(text, i);
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
        size_t length = TextEscape::Utf8Length(text, i);
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
    return TextEscape::Utf8Escaped(text, true);
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
