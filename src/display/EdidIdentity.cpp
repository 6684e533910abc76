#include "EdidIdentity.h"

namespace {
const size_t kProductCodeOffset = 10;
const size_t kSerialNumberOffset = 12;
const size_t kWeekOffset = 16;
const size_t kYearOffset = 17;
const size_t kFirstDescriptor = 54;
const size_t kDescriptorLength = 18;
const size_t kDescriptorCount = 4;
const size_t kTextLength = 13;
const unsigned char kTagSerial = 0xFF;
const unsigned char kTagName = 0xFC;
const unsigned int kYearBase = 1990;
}  // namespace

void EdidIdentity::TrimEnd(std::string& text)
{
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
}

std::string EdidIdentity::DescriptorText(const unsigned char* payload)
{
    std::string text;
    for (size_t i = 0; i < kTextLength && payload[i] != 0x0A && payload[i] != 0x00; ++i) {
        text += static_cast<char>(payload[i]);
    }
    return text;
}

bool EdidIdentity::decode(const unsigned char* bytes, size_t length)
{
    *this = EdidIdentity();
    if (bytes == nullptr || length < kBlockLength) {
        return false;
    }
    productCode = static_cast<uint16_t>(bytes[kProductCodeOffset] | (bytes[kProductCodeOffset + 1] << 8));
    serialNumber = static_cast<uint32_t>(bytes[kSerialNumberOffset]) |
                   (static_cast<uint32_t>(bytes[kSerialNumberOffset + 1]) << 8) |
                   (static_cast<uint32_t>(bytes[kSerialNumberOffset + 2]) << 16) |
                   (static_cast<uint32_t>(bytes[kSerialNumberOffset + 3]) << 24);
    hasSerialNumber = serialNumber != 0;
    if (bytes[kWeekOffset] == 0xFF) {
        hasModelYear = true;
        modelYear = kYearBase + bytes[kYearOffset];
    }
    for (size_t d = 0; d < kDescriptorCount; ++d) {
        const unsigned char* descriptor = bytes + kFirstDescriptor + d * kDescriptorLength;
        // Display descriptors start with a zero pixel clock and a zero byte.
        if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0) {
            continue;
        }
        const unsigned char tag = descriptor[3];
        if (tag == kTagName) {
            productName += DescriptorText(descriptor + 5);
            hasProductName = true;
        } else if (tag == kTagSerial && !hasSerialString) {
            serialString = DescriptorText(descriptor + 5);
            hasSerialString = true;
        }
    }
    // A name split over two descriptors keeps the blank between its parts.
    TrimEnd(productName);
    TrimEnd(serialString);
    return true;
}
