// Real-world EDID blocks beside the checkout, checked against the values in
// their expected.tsv (and the rejections in negative.tsv).
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Edid.h"
#include "LogCapture.h"
#include "TestReports.h"

namespace {

std::string DataDir()
{
    const char* overridden = getenv("PNLMON_EDID_TESTDATA_DIR");
    return overridden != nullptr && *overridden != '\0' ? overridden : PNLMON_EDID_TESTDATA_DIR;
}

typedef std::map<std::string, std::string> Row;

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.push_back("");
    }
    return parts;
}

// The rows of a TSV file with a header line, keyed by column name.
bool ReadTable(const std::string& path, std::vector<Row>& rows)
{
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header = Split(line, '\t');
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> cells = Split(line, '\t');
        Row row;
        for (size_t i = 0; i < header.size(); ++i) {
            row[header[i]] = i < cells.size() ? cells[i] : "";
        }
        rows.push_back(row);
    }
    return true;
}

// The established timings, bit by bit from bit 7 of byte 35, as the table
// writes them.
const char* const kEstablished[17] = {
    "720x400@70",  "720x400@88",  "640x480@60",  "640x480@67",   "640x480@72",  "640x480@75",
    "800x600@56",  "800x600@60",  "800x600@72",  "800x600@75",   "832x624@75",  "1024x768@87",
    "1024x768@60", "1024x768@70", "1024x768@75", "1280x1024@75", "1152x870@75"};

// "1280 x 1024 @ 60Hz ..." as "1280x1024@60".
std::string Short(const std::string& text)
{
    unsigned int w = 0, h = 0, r = 0;
    if (sscanf(text.c_str(), "%u x %u @ %u", &w, &h, &r) != 3) {
        return "?" + text;
    }
    return std::to_string(w) + "x" + std::to_string(h) + "@" + std::to_string(r);
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckRow(const Row& row, const Bytes& block)
{
    Edid edid;
    ASSERT_TRUE(edid.initialise(block.data(), static_cast<int>(block.size())));

    EXPECT_EQ(row.at("manufacturer"), edid.manufacturerName);

    int week = std::stoi(row.at("week"));
    std::string date = row.at("year");
    if (week == 0) {
        date += " (Week not specified)";
    } else if (week <= 54) {
        date += " Week " + std::to_string(week);
    }
    EXPECT_EQ(date, edid.manufactureDate);

    unsigned int h = std::stoul(row.at("h_cm")), v = std::stoul(row.at("v_cm"));
    bool sized = h != 0 && v != 0;
    EXPECT_EQ(sized ? h * 10 : 0, edid.horizontalScreenSize);
    EXPECT_EQ(sized ? v * 10 : 0, edid.verticalScreenSize);

    bool digital = row.at("digital") == "1";
    EXPECT_EQ(digital || row.at("colour_bits") != "0", edid.supportsColor);

    bool standby = row.at("dpms_standby") == "1";
    bool suspend = row.at("dpms_suspend") == "1";
    bool activeOff = row.at("dpms_activeoff") == "1";
    str_list_t modes;
    if (!standby && !suspend && activeOff) {
        modes = {"On", "Sleep", "Off"};
    } else if (!suspend && !activeOff) {
        modes = {"On", "Off"};
    } else {
        if (standby) modes.push_back("Standby");
        if (suspend) modes.push_back("Suspend");
        if (activeOff) modes.push_back("Active Off");
    }
    EXPECT_EQ(modes, edid.powerManagementModes);

    std::vector<std::string> established, standard;
    for (const std::string& entry : edid.supportedResolutionsAndRefreshRates) {
        (EndsWith(entry, " VESA STD") ? standard : established).push_back(Short(entry));
    }
    std::vector<std::string> wantEstablished;
    const std::string& bits = row.at("established");
    ASSERT_EQ(17u, bits.size());
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            wantEstablished.push_back(kEstablished[i]);
        }
    }
    EXPECT_EQ(wantEstablished, established);
    std::vector<std::string> wantStandard;
    if (!row.at("standard_timings").empty()) {
        wantStandard = Split(row.at("standard_timings"), ';');
    }
    EXPECT_EQ(wantStandard, standard);

    const std::string& first = row.at("first_descriptor");
    if (first.compare(0, 9, "detailed ") == 0) {
        EXPECT_EQ(first.substr(9), Short(edid.preferredResolutionAndRefreshRate));
        EXPECT_TRUE(EndsWith(edid.preferredResolutionAndRefreshRate, "Hz"));
    } else {
        EXPECT_EQ(0u, first.compare(0, 8, "display ")) << first;
        EXPECT_EQ("Unknown", edid.preferredResolutionAndRefreshRate);
    }
}

}  // namespace

TEST(EdidRealWorld, EveryBlockAgreesWithExpectedValues)
{
    std::string dir = DataDir();
    std::vector<Row> rows, negatives;
    if (!ReadTable(dir + "/expected.tsv", rows)) {
        GTEST_SKIP() << "no EDID test data in " << dir;
    }
    ASSERT_TRUE(ReadTable(dir + "/negative.tsv", negatives));
    ASSERT_FALSE(rows.empty());

    std::set<std::string> listed;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.at("file"));
        listed.insert(row.at("file"));
        Bytes block;
        ASSERT_TRUE(ReadBytes(dir + "/" + row.at("file"), block));
        CheckRow(row, block);
    }
    for (const Row& row : negatives) {
        listed.insert(row.at("file"));
    }

    // Every block in the folder is covered by one of the two tables.
    DIR* folder = opendir(dir.c_str());
    ASSERT_NE(nullptr, folder);
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (EndsWith(name, ".bin")) {
            EXPECT_EQ(1u, listed.count(name)) << name << " is in neither table";
        }
    }
    closedir(folder);
}

TEST(EdidRealWorld, CorruptBlocksAreRejectedForTheirReason)
{
    std::string dir = DataDir();
    std::vector<Row> negatives;
    if (!ReadTable(dir + "/negative.tsv", negatives)) {
        GTEST_SKIP() << "no EDID test data in " << dir;
    }
    const std::map<std::string, std::string> lineFor = {
        {"reject: checksum", "Edid::validateChecksum - bad checksum "},
        {"reject: short (<128 bytes)", "Edid::validateLength - raw bytes length - wanted 128, got "},
        {"reject: header", "Edid::validateProlog - invalid edid prolog"},
    };
    for (const Row& row : negatives) {
        SCOPED_TRACE(row.at("file"));
        auto want = lineFor.find(row.at("expected"));
        ASSERT_NE(lineFor.end(), want) << row.at("expected");
        Bytes block;
        ASSERT_TRUE(ReadBytes(dir + "/" + row.at("file"), block));
        LogCapture log = RunLogged([&block] {
            Edid edid;
            return edid.initialise(block.data(), static_cast<int>(block.size())) ? 1 : 0;
        });
        EXPECT_EQ(0, log.exitCode);
        std::vector<std::string> errors = log.messages("Error");
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(0u, errors[0].compare(0, want->second.size(), want->second)) << errors[0];
    }
}

TEST(EdidRealWorld, EveryBlockGivesTheReasonOfItsTable)
{
    std::string dir = DataDir();
    std::vector<Row> rows, negatives;
    if (!ReadTable(dir + "/expected.tsv", rows) || !ReadTable(dir + "/negative.tsv", negatives)) {
        GTEST_SKIP() << "no EDID test data in " << dir;
    }
    const std::map<std::string, Rejection::Reason> reasonFor = {
        {"reject: checksum", Rejection::kBadChecksum},
        {"reject: short (<128 bytes)", Rejection::kTooShort},
        {"reject: header", Rejection::kBadHeader},
    };
    for (const Row& row : negatives) {
        rows.push_back(row);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.at("file"));
        Rejection::Reason want = Rejection::kNone;
        if (row.count("expected") != 0) {
            auto found = reasonFor.find(row.at("expected"));
            ASSERT_NE(reasonFor.end(), found) << row.at("expected");
            want = found->second;
        }
        Bytes block;
        ASSERT_TRUE(ReadBytes(dir + "/" + row.at("file"), block));
        Edid edid;
        Rejection why;
        EXPECT_EQ(want == Rejection::kNone, edid.initialise(block.data(), static_cast<int>(block.size()), &why));
        EXPECT_EQ(want, why.reason()) << why.text();
    }
}
