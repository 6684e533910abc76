// EdidIdentity against the real-world blocks: each value must be the one
// edid-decode printed for the same bytes, and absent where it printed none.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "EdidIdentity.h"

namespace {

std::string DataDir()
{
    const char* overridden = getenv("PNLMON_EDID_TESTDATA_DIR");
    return overridden != nullptr && *overridden != '\0' ? overridden : PNLMON_EDID_TESTDATA_DIR;
}

bool ReadFile(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

// What edid-decode's text says of the base block (up to its first
// extension block).
struct Expected {
    bool hasName = false;
    std::string name;
    bool hasSerialString = false;
    std::string serialString;
    long productCode = -1;
    long serialNumber = -1;
    long modelYear = -1;
};

Expected Parse(const std::string& text)
{
    Expected e;
    std::string base = text.substr(0, text.find("\nBlock 1,"));
    std::smatch m;
    std::string rest = base;
    static const std::regex name("Display Product Name: '([^'\\n]*)'");
    while (std::regex_search(rest, m, name)) {
        e.hasName = true;
        e.name += m[1].str();
        rest = m.suffix();
    }
    while (!e.name.empty() && e.name.back() == ' ') {
        e.name.pop_back();
    }
    static const std::regex serialText("Display Product Serial Number: '([^'\\n]*)'");
    if (std::regex_search(base, m, serialText)) {
        e.hasSerialString = true;
        e.serialString = m[1].str();
        while (!e.serialString.empty() && e.serialString.back() == ' ') {
            e.serialString.pop_back();
        }
    }
    static const std::regex model("\\n    Model: (\\d+)");
    if (std::regex_search(base, m, model)) {
        e.productCode = std::stol(m[1].str());
    }
    static const std::regex serial("\\n    Serial Number: (\\d+)");
    if (std::regex_search(base, m, serial)) {
        e.serialNumber = std::stol(m[1].str());
    }
    static const std::regex year("\\n    Model year: (\\d+)");
    if (std::regex_search(base, m, year)) {
        e.modelYear = std::stol(m[1].str());
    }
    return e;
}

TEST(EdidIdentityTexts, AgreesWithEdidDecodeOnRealBlocks)
{
    const std::string dir = DataDir();
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) {
        GTEST_SKIP() << "no EDID test data in " << dir;
    }
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(folder)) {
        std::string file = entry->d_name;
        const std::string suffix = ".edid-decode.txt";
        // The deliberately corrupted blocks have no identity to compare.
        if (file.compare(0, 4, "neg-") != 0 && file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(file.substr(0, file.size() - suffix.size()));
        }
    }
    closedir(folder);
    int checked = 0, named = 0, serials = 0, years = 0;
    for (const std::string& name : names) {
        std::string bytes, text;
        if (!ReadFile(dir + "/" + name + ".bin", bytes) || !ReadFile(dir + "/" + name + ".edid-decode.txt", text) ||
            bytes.size() < 128) {
            continue;
        }
        SCOPED_TRACE(name);
        Expected e = Parse(text);
        EdidIdentity id;
        ASSERT_TRUE(id.decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
        EXPECT_EQ(e.hasName, id.hasProductName);
        EXPECT_EQ(e.name, id.productName);
        EXPECT_EQ(e.hasSerialString, id.hasSerialString);
        EXPECT_EQ(e.serialString, id.serialString);
        EXPECT_EQ(e.productCode, static_cast<long>(id.productCode));
        EXPECT_EQ(e.serialNumber >= 0, id.hasSerialNumber);
        if (e.serialNumber >= 0) {
            EXPECT_EQ(e.serialNumber, static_cast<long>(id.serialNumber));
        }
        EXPECT_EQ(e.modelYear >= 0, id.hasModelYear);
        if (e.modelYear >= 0) {
            EXPECT_EQ(e.modelYear, static_cast<long>(id.modelYear));
        }
        ++checked;
        named += e.hasName;
        serials += e.hasSerialString;
        years += e.modelYear >= 0;
    }
    EXPECT_GE(checked, 80);
    // The collection has names, serial texts and model years to compare.
    EXPECT_GT(named, 50);
    EXPECT_GT(serials, 20);
    EXPECT_GT(years, 0);
}

TEST(EdidIdentityTexts, ShortOrDescriptorlessBlocks)
{
    std::vector<unsigned char> block(128, 0);
    EdidIdentity id;
    EXPECT_FALSE(id.decode(block.data(), 127));
    EXPECT_FALSE(id.decode(nullptr, 128));
    // Timing descriptors only (non-zero pixel clock): no texts; a zero serial
    // number is absent; week 0xFF makes byte 17 the model year.
    for (size_t d = 54; d < 126; d += 18) {
        block[d] = 0x01;
    }
    block[16] = 0xFF;
    block[17] = 30;
    ASSERT_TRUE(id.decode(block.data(), block.size()));
    EXPECT_FALSE(id.hasProductName);
    EXPECT_FALSE(id.hasSerialString);
    EXPECT_FALSE(id.hasSerialNumber);
    EXPECT_TRUE(id.hasModelYear);
    EXPECT_EQ(2020u, id.modelYear);
    // A name of 13 characters has no line feed; control bytes stay as they
    // are (the caller escapes them).
    block[54] = 0;
    block[57] = 0xFC;
    const char name[] = "ABCDEFGHIJKL\x01";
    std::copy(name, name + 13, block.begin() + 59);
    ASSERT_TRUE(id.decode(block.data(), block.size()));
    EXPECT_EQ(std::string("ABCDEFGHIJKL\x01"), id.productName);
}

}  // namespace
