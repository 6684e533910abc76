// The Prometheus view of pnlmon-inventory on readings built by hand (the
// exposition text, its escaping of the monitors' bytes, the collector's
// series on failed reads), and the atomic replacement of the output file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "ByteText.h"
#include "PrometheusView.h"

namespace {

DisplayInformation Record(const std::string& serial)
{
    DisplayInformation d;
    d.manufacturerName = "ABC";
    d.physicalDeviceName = "7427";
    d.modelName = "A10";
    d.serialNumber = serial;
    d.firmwareRevision = "0105";
    d.currentVideoSource = "VGA";
    d.hoursPoweredCount = 5210;
    d.currentBacklightPowerOnHours = 4100;
    d.currentBrightnessLevel = 80;
    d.backlightState = 1;
    d.horizontalResolution = 1024;
    d.verticalResolution = 768;
    d.refreshRate = 60;
    d.preferredResolutionAndRefreshRate = "1024 x 768 @ 60Hz";
    return d;
}

DisplayReport Report(int state, uint8_t address, const std::string& deviceId = "", int usbError = 0)
{
    DisplayReport r;
    r.busNumber = 1;
    r.deviceAddress = address;
    r.vendorId = 0x04B3;
    r.productId = 0x4676;
    r.state = state;
    r.usbError = usbError;
    r.deviceId = deviceId;
    return r;
}

void AddRead(PrometheusView::Reading& reading, const DisplayInformation& d, uint8_t address)
{
    std::string id;
    d.getDeviceId(id);
    reading.records.push_back(d);
    reading.reports.push_back(Report(DisplayReport::READ, address, id));
}

// The lines of the text whose metric name is name (exactly).
std::vector<std::string> Samples(const std::string& text, const std::string& name)
{
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, name.size(), name) == 0 && (line[name.size()] == '{' || line[name.size()] == ' ')) {
            found.push_back(line);
        }
    }
    return found;
}

// What a strict reader of the text format demands: every line a comment of
// the two kinds or a sample; label values with only the three escapes;
// valid UTF-8; HELP and TYPE once per family, before its samples.
void ExpectWellFormed(const std::string& text)
{
    ASSERT_FALSE(text.empty());
    ASSERT_EQ('\n', text.back());
    ASSERT_TRUE(ByteText::IsUtf8(text));
    const std::regex help(R"(# HELP ([a-z_]+) [^\n]+)");
    const std::regex type(R"(# TYPE ([a-z_]+) (gauge|counter))");
    const std::regex sample(R"(([a-z_]+)(\{([a-z_]+="(\\[\\"n]|[^\\"\n])*")(,[a-z_]+="(\\[\\"n]|[^\\"\n])*")*\})? [0-9.e+-]+)");
    std::istringstream lines(text);
    std::string family;
    std::vector<std::string> families;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, help)) {
            family = m[1];
            for (const std::string& f : families) {
                ASSERT_NE(f, family) << "family twice: " << family;
            }
            families.push_back(family);
        } else if (std::regex_match(line, m, type)) {
            ASSERT_EQ(family, m[1].str()) << line;
            ASSERT_EQ(m[2] == "counter", family.size() > 6 && family.substr(family.size() - 6) == "_total") << line;
        } else {
            ASSERT_TRUE(std::regex_match(line, m, sample)) << "not a sample: " << line;
            ASSERT_EQ(family, m[1].str()) << line;
        }
    }
}

TEST(PrometheusView, TwoMonitorsGiveEverySeriesKeyedByDeviceId)
{
    PrometheusView::Reading reading;
    reading.seconds = 0.25;
    AddRead(reading, Record("000000A"), 2);
    DisplayInformation faulty = Record("000000B");
    faulty.backlightState = 2;
    faulty.currentBrightnessLevel = 200;  // not clamped
    faulty.horizontalResolution = 800;
    faulty.verticalResolution = 600;
    AddRead(reading, faulty, 3);
    const std::string text = PrometheusView::Format(reading);
    ExpectWellFormed(text);

    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 1"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_duration_seconds 0.25"}, Samples(text, "pnlmon_read_duration_seconds"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_flash_utility_running 0"}, Samples(text, "pnlmon_flash_utility_running"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_attached 2"}, Samples(text, "pnlmon_monitors_attached"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_busy 0"}, Samples(text, "pnlmon_monitors_busy"));

    const std::vector<std::string> info = Samples(text, "pnlmon_monitor_info");
    ASSERT_EQ(2u, info.size());
    EXPECT_EQ("pnlmon_monitor_info{device_id=\"7427-A10-000000A\",manufacturer=\"ABC\",machine_type=\"7427\","
              "model=\"A10\",serial=\"000000A\",firmware=\"0105\",video_source=\"VGA\",bus=\"1\",device=\"2\","
              "usb_id=\"04b3:4676\"} 1",
              info[0]);
    const std::string b = "{device_id=\"7427-A10-000000B\"}";
    EXPECT_EQ("pnlmon_monitor_power_on_seconds_total" + b + " 18756000",
              Samples(text, "pnlmon_monitor_power_on_seconds_total")[1]);
    EXPECT_EQ("pnlmon_monitor_backlight_on_seconds_total" + b + " 14760000",
              Samples(text, "pnlmon_monitor_backlight_on_seconds_total")[1]);
    EXPECT_EQ("pnlmon_monitor_backlight_fault" + b + " 1", Samples(text, "pnlmon_monitor_backlight_fault")[1]);
    EXPECT_EQ("pnlmon_monitor_backlight_fault{device_id=\"7427-A10-000000A\"} 0",
              Samples(text, "pnlmon_monitor_backlight_fault")[0]);
    EXPECT_EQ("pnlmon_monitor_brightness_ratio" + b + " 2", Samples(text, "pnlmon_monitor_brightness_ratio")[1]);
    EXPECT_EQ("pnlmon_monitor_mode_width_pixels" + b + " 800", Samples(text, "pnlmon_monitor_mode_width_pixels")[1]);
    EXPECT_EQ("pnlmon_monitor_mode_preferred" + b + " 0", Samples(text, "pnlmon_monitor_mode_preferred")[1]);
    EXPECT_EQ("pnlmon_monitor_mode_preferred{device_id=\"7427-A10-000000A\"} 1",
              Samples(text, "pnlmon_monitor_mode_preferred")[0]);
}

TEST(PrometheusView, UnknownValuesLeaveTheirSeriesOut)
{
    PrometheusView::Reading reading;
    DisplayInformation d = Record("000000A");
    d.backlightState = 0;            // nothing decoded
    d.horizontalResolution = 0;      // no OSD report
    AddRead(reading, d, 2);
    DisplayInformation odd = Record("000000B");
    odd.preferredResolutionAndRefreshRate = "";  // no EDID timing
    AddRead(reading, odd, 3);
    const std::string text = PrometheusView::Format(reading);
    ExpectWellFormed(text);
    EXPECT_EQ(1u, Samples(text, "pnlmon_monitor_backlight_fault").size());
    EXPECT_EQ(1u, Samples(text, "pnlmon_monitor_mode_width_pixels").size());
    EXPECT_EQ(0u, Samples(text, "pnlmon_monitor_mode_preferred").size());
    EXPECT_EQ(2u, Samples(text, "pnlmon_monitor_info").size());
}

TEST(PrometheusView, MonitorBytesCannotBreakTheFile)
{
    // Quote, backslash, line feed, 0xFF, a NUL, a C1 control and valid
    // UTF-8 in the identity texts.
    const std::string serial = std::string("\"\\\n\xff", 4) + std::string(1, '\0') + "\xc2\x85\xc3\xa9";
    EXPECT_EQ("\\\"\\\\\\\\\\\\x0a\\\\xff\\\\x00\\\\xc2\\\\x85\xc3\xa9", PrometheusView::LabelValue(serial));
    EXPECT_EQ("plain", PrometheusView::LabelValue("plain"));

    PrometheusView::Reading reading;
    DisplayInformation d = Record(serial);
    d.manufacturerName = "A\"B";
    d.firmwareRevision = "\x01\x02\r\n";
    d.currentVideoSource = "} 1\n# TYPE x counter\n";
    AddRead(reading, d, 2);
    const std::string text = PrometheusView::Format(reading);
    ExpectWellFormed(text);
    // The label shows what the terminal views show, so --id accepts it.
    std::string id;
    d.getDeviceId(id);
    const std::string shown = ByteText::ForTerminal(id);
    std::string unescaped;
    const std::string line = Samples(text, "pnlmon_monitor_backlight_fault")[0];
    const std::string inner = line.substr(line.find("=\"") + 2, line.rfind("\"}") - line.find("=\"") - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\') {
            ++i;
            unescaped += inner[i] == 'n' ? '\n' : inner[i];
        } else {
            unescaped += inner[i];
        }
    }
    EXPECT_EQ(shown, unescaped);
}

TEST(PrometheusView, TwoMonitorsWithOneIdentifierStayDistinct)
{
    PrometheusView::Reading reading;
    const DisplayInformation blank = Record(std::string(7, '\xff'));
    AddRead(reading, blank, 2);
    AddRead(reading, blank, 3);
    AddRead(reading, blank, 4);
    const std::string text = PrometheusView::Format(reading);
    ExpectWellFormed(text);
    const std::vector<std::string> fault = Samples(text, "pnlmon_monitor_backlight_fault");
    ASSERT_EQ(3u, fault.size());
    EXPECT_EQ(std::string::npos, fault[0].find("duplicate"));
    EXPECT_NE(std::string::npos, fault[1].find(",duplicate=\"2\"}"));
    EXPECT_NE(std::string::npos, fault[2].find(",duplicate=\"3\"}"));
    // Each info series names its own place on the bus.
    const std::vector<std::string> info = Samples(text, "pnlmon_monitor_info");
    EXPECT_NE(std::string::npos, info[1].find("device=\"3\""));
    EXPECT_NE(std::string::npos, info[2].find("device=\"4\""));
}

TEST(PrometheusView, FailedAndPartialReadsSaySoWithoutOldValues)
{
    PrometheusView::Reading flashing;
    flashing.code = DSP_FLASH_IN_PROGRESS;
    std::string text = PrometheusView::Format(flashing);
    ExpectWellFormed(text);
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 0"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_flash_utility_running 1"}, Samples(text, "pnlmon_flash_utility_running"));
    EXPECT_EQ(std::string::npos, text.find("pnlmon_monitors_attached"));  // unknown, not 0
    EXPECT_EQ(std::string::npos, text.find("pnlmon_monitor_"));

    PrometheusView::Reading noList;
    noList.code = DSP_ENUM_FAILED;
    text = PrometheusView::Format(noList);
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 0"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::string::npos, text.find("pnlmon_monitors_attached"));

    // Nothing attached is a successful read of an empty bus.
    PrometheusView::Reading none;
    none.code = DSP_NO_DEVICES;
    text = PrometheusView::Format(none);
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 1"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_attached 0"}, Samples(text, "pnlmon_monitors_attached"));

    // Held by another program (the driver's busy state, or a claim refused
    // as busy) is not a failure; a denied open is.
    PrometheusView::Reading shared;
    AddRead(shared, Record("000000A"), 2);
    shared.reports.push_back(Report(DisplayReport::BUSY, 3));
    shared.reports.push_back(Report(DisplayReport::CLAIM_FAILED, 4, "", -6));
    text = PrometheusView::Format(shared);
    ExpectWellFormed(text);
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 1"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_attached 3"}, Samples(text, "pnlmon_monitors_attached"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_busy 2"}, Samples(text, "pnlmon_monitors_busy"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_unreadable 0"}, Samples(text, "pnlmon_monitors_unreadable"));
    shared.reports.push_back(Report(DisplayReport::OPEN_FAILED, 5, "", -3));
    text = PrometheusView::Format(shared);
    EXPECT_EQ(std::vector<std::string>{"pnlmon_read_success 0"}, Samples(text, "pnlmon_read_success"));
    EXPECT_EQ(std::vector<std::string>{"pnlmon_monitors_unreadable 1"}, Samples(text, "pnlmon_monitors_unreadable"));
    EXPECT_EQ(1u, Samples(text, "pnlmon_monitor_info").size());
}

class AtomicFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pnlmon-atomic.XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back('\0');
        ASSERT_NE(nullptr, mkdtemp(buffer.data()));
        dir = buffer.data();
    }
    void TearDown() override
    {
        for (const std::string& name : Entries()) {
            std::string path = dir + "/" + name;
            if (rmdir(path.c_str()) != 0) {
                unlink(path.c_str());
            }
        }
        rmdir(dir.c_str());
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(d);
        }
        return names;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    std::string dir;
};

TEST_F(AtomicFileTest, ReplacesTheFileWholeWithTheModeGivenAndLeavesNoTemporaryFile)
{
    const std::string path = dir + "/pnlmon.prom";
    std::string error;
    const mode_t old = umask(077);
    ASSERT_TRUE(AtomicFile::Write(path, "first\n", 0644, error)) << error;
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(AtomicFile::Write(path, big, 0644, error)) << error;
    umask(old);
    EXPECT_EQ(big, Read(path));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"pnlmon.prom"}, Entries());
}

TEST_F(AtomicFileTest, FailuresKeepTheOldFileAndTellWhy)
{
    std::string error;
    EXPECT_FALSE(AtomicFile::Write(dir + "/missing/pnlmon.prom", "x", 0644, error));
    EXPECT_NE(std::string::npos, error.find(dir + "/missing")) << error;
    EXPECT_FALSE(AtomicFile::Write(dir + "/", "x", 0644, error));
    EXPECT_FALSE(AtomicFile::Write("", "x", 0644, error));

    // A folder in the file's place: the rename fails, the temporary file goes.
    ASSERT_EQ(0, mkdir((dir + "/taken.prom").c_str(), 0755));
    ASSERT_EQ(0, mkdir((dir + "/taken.prom/inside").c_str(), 0755));
    EXPECT_FALSE(AtomicFile::Write(dir + "/taken.prom", "x", 0644, error));
    EXPECT_NE(std::string::npos, error.find("cannot replace")) << error;
    EXPECT_EQ(std::vector<std::string>{"taken.prom"}, Entries());
    rmdir((dir + "/taken.prom/inside").c_str());
}

}  // namespace
