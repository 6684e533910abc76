#include "TestReports.h"

#include <fstream>
#include <iterator>

Bytes EmptyEdid()
{
    Bytes b(128, 0);
    const unsigned char header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), b.begin());
    b[18] = 1;
    b[19] = 3;
    for (size_t i = 38; i < 54; ++i) {
        b[i] = 0x01;
    }
    for (size_t d = 54; d < 126; d += 18) {
        b[d + 3] = 0x10;  // dummy descriptor
    }
    Seal(b);
    return b;
}

void Seal(Bytes& block)
{
    unsigned int sum = 0;
    for (size_t i = 0; i < 127; ++i) {
        sum += block[i];
    }
    block[127] = static_cast<unsigned char>((256 - (sum & 0xFF)) & 0xFF);
}

void Put(Bytes& block, size_t offset, const Bytes& bytes)
{
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<long>(offset));
    Seal(block);
}

namespace {
void PutText(Bytes& report, size_t offset, size_t width, const std::string& text)
{
    for (size_t i = 0; i < width; ++i) {
        report[offset + i] = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
    }
}
}  // namespace

Bytes InventoryReport(const std::string& fwrev, const std::string& machine,
                      const std::string& model, const std::string& serial)
{
    Bytes report(35, 0);
    PutText(report, 0, 4, fwrev);
    PutText(report, 4, 4, machine);
    PutText(report, 8, 3, model);
    PutText(report, 11, 7, serial);
    return report;
}

Bytes OsdReport(unsigned char mode)
{
    Bytes report(24, 0);
    report[15] = mode;
    return report;
}

bool ReadBytes(const std::string& path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}
