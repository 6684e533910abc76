// The fault matrix: every USB fault the emulated monitors can produce, at
// every exchange where it can strike, through DisplayApi and through the
// provider in the embedded CIMOM host. A healthy monitor shares the bus in
// the first enumeration of every cell and must come through unharmed; the
// second enumeration has the faulty monitor alone.
#include <dirent.h>
#include <unistd.h>
#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DescriptorFault.h"
#include "EmulatedBus.h"
#include "EnumerationSession.h"
#include "FaultCell.h"
#include "InventoryFields.h"
#include "MonitorReports.h"
#include "MonitorSpec.h"

using cimhost::HostInstance;
using cimhost::HostValue;
using faults::Enumeration;
using faults::EnumerationSession;
using faults::Exchange;
using faults::FaultCell;
using faults::Path;
using faults::Provocation;
using faults::RecordChange;
using usbemu::EmulatedBus;
using usbemu::MonitorSpec;

namespace {

const char kHealthy[] = "well";
const char kFaulty[] = "sick";
const char kBadInit[] = "QavHidDisplayList::addQavHidDisplay - failed to add device to list - bad device init";
const char kNoDevices[] = "DisplayProvider::updateDisplays - No devices found - perhaps none are plugged in";

// The log goes to the scratch tmpfs before the first line is written.
class LogEnvironment : public testing::Environment {
public:
    void SetUp() override { EnumerationSession::RouteLog(); }
};
const testing::Environment* const g_logEnvironment = testing::AddGlobalTestEnvironment(new LogEnvironment);

MonitorSpec Monitor(const std::string& name, uint16_t vid, uint16_t pid, const std::string& id,
                    uint32_t hours, uint8_t brightness, uint8_t status0, uint8_t status1)
{
    MonitorSpec spec;
    spec.name = name;
    spec.vid = vid;
    spec.pid = pid;
    usbemu::InventoryFields fields;
    fields.machine = id.substr(0, 4);
    fields.model = id.substr(5, 3);
    fields.serialNumber = id.substr(9);
    fields.powerOnSeconds = hours * 3600;
    fields.backlightOnSeconds = (hours - 10) * 3600;
    fields.brightness = brightness;
    fields.status0 = status0;
    fields.status1 = status1;
    spec.inventory = fields.bytes();
    return spec;
}

MonitorSpec Healthy()
{
    return Monitor(kHealthy, 0x04B3, 0x4676, faults::kHealthyId, 100, 60, 0x00, 0x0C);
}

// Both faulty monitors report a backlight fault, non-zero counters and the
// 1366 x 768 mode, so that bytes lost to a short read show.
MonitorSpec Faulty(bool displayPort)
{
    if (!displayPort) {
        MonitorSpec spec = Monitor(kFaulty, 0x04B3, 0x4678, faults::kVgaFaultyId, 500, 70, 0x01, 0x0C);
        spec.osd = usbemu::MakeOsd(15);
        return spec;
    }
    MonitorSpec spec = Monitor(kFaulty, 0x0F66, 0x467A, faults::kDpFaultyId, 700, 75, 0x01, 0x03);
    spec.osd = usbemu::MakeOsd(15);
    std::vector<uint8_t> edid = usbemu::MakeEdid();
    std::vector<uint8_t> extension(128, 0);
    extension[0] = 0x02;
    edid.insert(edid.end(), extension.begin(), extension.end());
    usbemu::FixEdidChecksum(edid);
    spec.edid = edid;
    return spec;
}

MonitorSpec FaultyFor(const FaultCell& cell)
{
    MonitorSpec spec = Faulty(cell.displayPort());
    spec.numInterfaces = cell.interfaces;
    spec.numEndpoints = cell.endpoints;
    spec.kernelDriverBound = cell.kernelDriverBound;
    return spec;
}

// Fault-free records of the three monitors, each read alone through
// DisplayApi once per process.
std::map<std::string, DisplayInformation>& Baselines()
{
    static std::map<std::string, DisplayInformation> baselines;
    if (!baselines.empty()) {
        return baselines;
    }
    for (const MonitorSpec& spec : {Healthy(), Faulty(false), Faulty(true)}) {
        EmulatedBus::instance().unplugAll();
        EmulatedBus::instance().plug(spec);
        EnumerationSession session(Path::Driver);
        Enumeration e = session.enumerate();
        if (e.records.size() == 1) {
            baselines[faults::IdOf(e.records[0])] = e.records[0];
        }
    }
    EmulatedBus::instance().unplugAll();
    return baselines;
}

// What the faulty monitor's record holds when it stays listed.
DisplayInformation ExpectedFaultyRecord(const FaultCell& cell)
{
    DisplayInformation expected = Baselines()[cell.displayPort() ? faults::kDpFaultyId : faults::kVgaFaultyId];
    switch (cell.change) {
    case RecordChange::None:
        break;
    case RecordChange::InventoryShort:
        expected.hoursPoweredCount = 0;
        expected.currentBacklightPowerOnHours = 0;
        expected.currentBrightnessLevel = 0;
        expected.backlightState = 1;  // status byte 0 read as zero: no fault
        break;
    case RecordChange::EdidDefaults:
        expected.manufactureDate.clear();
        expected.manufacturerName.clear();
        expected.horizontalScreenSize = 0;
        expected.verticalScreenSize = 0;
        expected.supportsColor = true;
        expected.supportedResolutionsAndRefreshRates.clear();
        expected.preferredResolutionAndRefreshRate = "Unknown";
        expected.powerManagementModes.clear();
        break;
    case RecordChange::OsdShort:
        expected.horizontalResolution = 640;
        expected.verticalResolution = 350;
        expected.refreshRate = 70;
        break;
    }
    return expected;
}

void ExpectSameRecord(const DisplayInformation& got, const DisplayInformation& want)
{
    EXPECT_EQ(got.bus, want.bus);
    EXPECT_EQ(got.deviceCategory, want.deviceCategory);
    EXPECT_EQ(got.firmwareRevision, want.firmwareRevision);
    EXPECT_EQ(got.manufactureDate, want.manufactureDate);
    EXPECT_EQ(got.manufacturerName, want.manufacturerName);
    EXPECT_EQ(got.mechanicalRevision, want.mechanicalRevision);
    EXPECT_EQ(got.physicalDeviceName, want.physicalDeviceName);
    EXPECT_EQ(got.modelName, want.modelName);
    EXPECT_EQ(got.serialNumber, want.serialNumber);
    EXPECT_EQ(got.horizontalScreenSize, want.horizontalScreenSize);
    EXPECT_EQ(got.verticalScreenSize, want.verticalScreenSize);
    EXPECT_EQ(got.horizontalResolution, want.horizontalResolution);
    EXPECT_EQ(got.verticalResolution, want.verticalResolution);
    EXPECT_EQ(got.refreshRate, want.refreshRate);
    EXPECT_EQ(got.supportedResolutionsAndRefreshRates, want.supportedResolutionsAndRefreshRates);
    EXPECT_EQ(got.preferredResolutionAndRefreshRate, want.preferredResolutionAndRefreshRate);
    EXPECT_EQ(got.displayTechnology, want.displayTechnology);
    EXPECT_EQ(got.scanMode, want.scanMode);
    EXPECT_EQ(got.supportsColor, want.supportsColor);
    EXPECT_EQ(got.supportedVideoSources, want.supportedVideoSources);
    EXPECT_EQ(got.currentVideoSource, want.currentVideoSource);
    EXPECT_EQ(got.lightSourceType, want.lightSourceType);
    EXPECT_EQ(got.lightSourceIlluminationType, want.lightSourceIlluminationType);
    EXPECT_EQ(got.lightSourceCount, want.lightSourceCount);
    EXPECT_EQ(got.recommendedBrightnessLevel, want.recommendedBrightnessLevel);
    EXPECT_EQ(got.currentBrightnessLevel, want.currentBrightnessLevel);
    EXPECT_EQ(got.backlightState, want.backlightState);
    EXPECT_EQ(got.hoursPoweredCount, want.hoursPoweredCount);
    EXPECT_EQ(got.currentBacklightPowerOnHours, want.currentBacklightPowerOnHours);
    EXPECT_EQ(got.powerManagementModes, want.powerManagementModes);
}

std::string Text(const HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->text : "<missing>";
}

uint64_t Number(const HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->uint : ~0ull;
}

std::vector<std::string> Texts(const HostInstance& i, const std::string& name)
{
    const HostValue* v = i.find(name);
    return v != nullptr ? v->texts() : std::vector<std::string>{"<missing>"};
}

// The provider's instance carries the record unchanged.
void ExpectInstanceOf(const HostInstance& i, const DisplayInformation& r)
{
    std::string id = faults::IdOf(r);
    EXPECT_EQ(i.properties.size(), 36u);
    EXPECT_EQ(Text(i, "DeviceID"), id);
    EXPECT_EQ(Text(i, "Caption"), "Vostran Display: " + id);
    EXPECT_EQ(Text(i, "Bus"), r.bus);
    EXPECT_EQ(Text(i, "DeviceCategory"), r.deviceCategory);
    EXPECT_EQ(Text(i, "FirmwareRevision"), r.firmwareRevision);
    EXPECT_EQ(Text(i, "ManufactureDate"), r.manufactureDate);
    EXPECT_EQ(Text(i, "ManufacturerName"), r.manufacturerName);
    EXPECT_EQ(Text(i, "MechanicalRevision"), r.mechanicalRevision);
    EXPECT_EQ(Text(i, "PhysicalDeviceName"), r.physicalDeviceName);
    EXPECT_EQ(Text(i, "ModelName"), r.modelName);
    EXPECT_EQ(Text(i, "SerialNumber"), r.serialNumber);
    EXPECT_EQ(Number(i, "HorizontalScreenSize"), r.horizontalScreenSize);
    EXPECT_EQ(Number(i, "VerticalScreenSize"), r.verticalScreenSize);
    EXPECT_EQ(Number(i, "HorizontalResolution"), r.horizontalResolution);
    EXPECT_EQ(Number(i, "VerticalResolution"), r.verticalResolution);
    EXPECT_EQ(Number(i, "RefreshRate"), r.refreshRate);
    EXPECT_EQ(Texts(i, "SupportedResolutionsAndRefreshRates"), r.supportedResolutionsAndRefreshRates);
    EXPECT_EQ(Text(i, "PreferredResolutionAndRefreshRate"), r.preferredResolutionAndRefreshRate);
    EXPECT_EQ(Number(i, "DisplayTechnology"), r.displayTechnology);
    EXPECT_EQ(Number(i, "ScanMode"), r.scanMode);
    const HostValue* color = i.find("SupportsColor");
    EXPECT_TRUE(color != nullptr && color->boolean == r.supportsColor);
    EXPECT_EQ(Texts(i, "SupportedVideoSources"), r.supportedVideoSources);
    EXPECT_EQ(Text(i, "CurrentVideoSource"), r.currentVideoSource);
    EXPECT_EQ(Number(i, "LightSourceType"), r.lightSourceType);
    EXPECT_EQ(Number(i, "LightSourceIlluminationType"), r.lightSourceIlluminationType);
    EXPECT_EQ(Number(i, "LightSourceCount"), r.lightSourceCount);
    EXPECT_EQ(Number(i, "RecommendedBrightnessLevel"), r.recommendedBrightnessLevel);
    EXPECT_EQ(Number(i, "CurrentBrightnessLevel"), r.currentBrightnessLevel);
    EXPECT_EQ(Number(i, "BacklightState"), r.backlightState);
    EXPECT_EQ(Number(i, "HoursPoweredCount"), r.hoursPoweredCount);
    EXPECT_EQ(Number(i, "CurrentBacklightPowerOnHours"), r.currentBacklightPowerOnHours);
    EXPECT_EQ(Texts(i, "PowerManagementModes"), r.powerManagementModes);
}

int CountLine(const std::vector<std::string>& log, const std::string& line)
{
    int count = 0;
    for (const std::string& l : log) {
        count += l == line ? 1 : 0;
    }
    return count;
}

bool HasPrefix(const std::vector<std::string>& log, const std::string& prefix)
{
    for (const std::string& l : log) {
        if (l.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

// Each line exactly once, in the order given.
void ExpectLinesInOrder(const std::vector<std::string>& log, const std::vector<std::string>& lines)
{
    size_t from = 0;
    for (const std::string& line : lines) {
        EXPECT_EQ(CountLine(log, line), 1) << "line: " << line;
        size_t at = from;
        while (at < log.size() && log[at] != line) {
            ++at;
        }
        EXPECT_LT(at, log.size()) << "missing or out of order: " << line;
        if (at < log.size()) {
            from = at + 1;
        }
    }
}

// The open files of the process, as what they point at. Sockets are
// counted apart: libusb handles on emulated monitors are socket connections
// to umockdev, which also opens and closes sockets of its own on its worker
// thread.
struct OpenFiles {
    std::multiset<std::string> files;
    int sockets = 0;

    static OpenFiles Now()
    {
        OpenFiles open;
        DIR* dir = opendir("/proc/self/fd");
        if (dir == nullptr) {
            return open;
        }
        int own = dirfd(dir);
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.' || atoi(entry->d_name) == own) {
                continue;
            }
            char target[512] = {0};
            std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) < 0) {
                continue;
            }
            if (strncmp(target, "socket:", 7) == 0) {
                ++open.sockets;
            } else {
                open.files.insert(std::string(entry->d_name) + " " + target);
            }
        }
        closedir(dir);
        return open;
    }

    // Waits until umockdev has closed the sockets it still held.
    static OpenFiles Settled(const OpenFiles& before)
    {
        OpenFiles now = Now();
        for (int i = 0; i < 200 && now.sockets > before.sockets; ++i) {
            usleep(10 * 1000);
            now = Now();
        }
        return now;
    }
};

std::string Join(const std::vector<std::string>& items, const char* separator)
{
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

std::string Printable(const std::string& line)
{
    std::string text;
    for (char c : line) {
        text += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return text;
}

struct MatrixParam {
    const FaultCell* cell;
    Path path;
};

std::vector<MatrixParam> Params(bool slow)
{
    std::vector<MatrixParam> params;
    for (const FaultCell& cell : FaultCell::All()) {
        for (Path path : {Path::Driver, Path::Provider}) {
            // One timeout cell stays in the default run.
            bool kept = cell.id == FaultCell::DefaultTimeoutCell() && path == Path::Provider;
            if ((cell.slow && !kept) == slow) {
                params.push_back({&cell, path});
            }
        }
    }
    return params;
}

std::string ParamName(const testing::TestParamInfo<MatrixParam>& info)
{
    return info.param.cell->id + (info.param.path == Path::Driver ? "_DisplayApi" : "_Provider");
}

class FaultMatrix : public testing::TestWithParam<MatrixParam> {
protected:
    void SetUp() override
    {
        faults::DescriptorFault::Disarm();
        ASSERT_EQ(Baselines().size(), 3u) << "the fault-free monitors did not enumerate";
        bus().unplugAll();
    }

    void TearDown() override
    {
        faults::DescriptorFault::Disarm();
        bus().unplugAll();
    }

    EmulatedBus& bus() { return EmulatedBus::instance(); }

    // Arms the fault of the cell for the next enumeration.
    void arm(const FaultCell& cell)
    {
        if (cell.how != Provocation::Monitor) {
            faults::DescriptorFault::Arm(bus().address(kFaulty), cell.how == Provocation::DescriptorAtScan ? 0 : 1,
                                         LIBUSB_ERROR_IO);
        } else if (cell.kind != usbemu::FaultKind::None) {
            usbemu::Fault fault;
            fault.kind = cell.kind;
            if (cell.exchange != Exchange::BeforeExchanges) {
                fault.command = cell.command();
            }
            fault.readIndex = cell.readIndex;
            fault.shortLength = cell.shortLength;
            bus().setFault(kFaulty, fault);
        }
        bus().clearWire(kFaulty);
        opensBefore = bus().opens(kFaulty);
    }

    // One enumeration, with or without the healthy neighbour.
    void check(const FaultCell& cell, Path path, const Enumeration& e, bool withHealthy)
    {
        SCOPED_TRACE(withHealthy ? "with the healthy monitor" : "faulty monitor alone");
        std::string faultyId = cell.displayPort() ? faults::kDpFaultyId : faults::kVgaFaultyId;
        std::set<std::string> expectedIds;
        if (withHealthy) {
            expectedIds.insert(faults::kHealthyId);
        }
        if (cell.listed) {
            expectedIds.insert(faultyId);
        }

        // The code and the status.
        int expectedCode = expectedIds.empty() ? DSP_NO_DEVICES : DSP_OK;
        EXPECT_EQ(e.displayCode, expectedCode);
        if (path == Path::Provider) {
            EXPECT_EQ(e.cimStatus, CMPI_RC_OK);
        }

        // The record set.
        EXPECT_EQ(std::set<std::string>(e.ids.begin(), e.ids.end()), expectedIds);
        EXPECT_EQ(e.ids.size(), expectedIds.size());
        std::map<std::string, DisplayInformation> expected;
        expected[faults::kHealthyId] = Baselines()[faults::kHealthyId];
        expected[faultyId] = ExpectedFaultyRecord(cell);
        for (const DisplayInformation& record : e.records) {
            SCOPED_TRACE(faults::IdOf(record));
            ExpectSameRecord(record, expected[faults::IdOf(record)]);
        }
        for (const HostInstance& instance : e.instances) {
            SCOPED_TRACE(Text(instance, "DeviceID"));
            ExpectInstanceOf(instance, expected[Text(instance, "DeviceID")]);
        }

        // The log.
        ExpectLinesInOrder(e.log, cell.lines);
        EXPECT_EQ(CountLine(e.log, "QavHidDisplay::initialise - Ok"), static_cast<int>(expectedIds.size()));
        int found = (withHealthy ? 1 : 0) + (cell.scanSkips ? 0 : 1);
        EXPECT_EQ(CountLine(e.log, "QavHidDisplayList::enumerate added " + std::to_string(expectedIds.size()) +
                                       " device(s) from " + std::to_string(found) + " found"),
                  1);
        if (cell.listed) {
            EXPECT_EQ(CountLine(e.log, kBadInit), 0);
            // No line of the transport, but the DEBUG line of the release.
            for (const std::string& line : e.log) {
                const std::string release = "HidIo::releaseInterface - ";
                if (line.compare(0, 7, "HidIo::") == 0) {
                    EXPECT_EQ(line.compare(0, release.size(), release), 0) << line;
                }
            }
        } else {
            EXPECT_FALSE(HasPrefix(e.log, "QavHidDisplayList::addQavHidDisplay - added device " + faultyId));
        }
        if (path == Path::Provider) {
            EXPECT_EQ(CountLine(e.log, kNoDevices), expectedIds.empty() ? 1 : 0);
        }

        // What reached the faulty monitor: nothing after the failed exchange,
        // nothing retried.
        std::vector<uint8_t> commands;
        for (const usbemu::WireEvent& event : bus().wire(kFaulty)) {
            commands.push_back(event.report.size() > 1 ? event.report[1] : 0);
        }
        EXPECT_EQ(commands, cell.commands);
        EXPECT_EQ(bus().opens(kFaulty) - opensBefore, cell.opens);
    }

    // One row of the table in docs/reliability/fault-matrix.md, written when
    // PNLMON_FAULT_TABLE names a file.
    void report(const FaultCell& cell, Path path, const Enumeration& first, const Enumeration* second)
    {
        const char* file = getenv("PNLMON_FAULT_TABLE");
        if (file == nullptr || HasFailure()) {
            return;
        }
        std::string record;
        switch (cell.change) {
        case RecordChange::None:
            record = cell.listed ? "as without fault" : "—";
            break;
        case RecordChange::InventoryShort:
            record = "hours, backlight hours, brightness 0; backlight state 1";
            break;
        case RecordChange::EdidDefaults:
            record = "EDID defaults (no maker, date, size, timings; preferred \"Unknown\")";
            break;
        case RecordChange::OsdShort:
            record = "640 x 350 @ 70 (mode index 0)";
            break;
        }
        std::vector<std::string> lines;
        for (const std::string& line : cell.lines) {
            lines.push_back("\"" + Printable(line) + "\"");
        }
        auto listedOf = [](const Enumeration& e) {
            std::vector<std::string> names;
            for (const std::string& id : e.ids) {
                names.push_back(id == faults::kHealthyId ? "healthy" : "faulty");
            }
            return names.empty() ? std::string("none") : Join(names, "+");
        };
        auto codeOf = [path](const Enumeration& e) {
            std::string code = std::to_string(e.displayCode);
            return path == Path::Provider ? "OK/" + code : code;
        };
        std::string codes = codeOf(first) + " / " + (second != nullptr ? codeOf(*second) : "—");
        std::string sets = listedOf(first) + " / " + (second != nullptr ? listedOf(*second) : "gone");
        std::ofstream out(file, std::ios::app);
        out << "| " << cell.id << " | " << cell.fault << " | " << cell.exchangeName() << " | "
            << faults::PathName(path) << " | " << codes << " | " << sets << " | " << record << " | "
            << Join(lines, "<br>") << " |\n";
    }

    int opensBefore = 0;
};

TEST_P(FaultMatrix, Cell)
{
    const FaultCell& cell = *GetParam().cell;
    Path path = GetParam().path;
    OpenFiles filesBefore = OpenFiles::Settled(OpenFiles::Now());
    Enumeration first;
    Enumeration second;
    bool aloneRan = false;
    {
        bus().plug(FaultyFor(cell));
        bus().plug(Healthy());
        EnumerationSession session(path);
        std::string why;
        ASSERT_TRUE(session.ready(&why)) << why;

        arm(cell);
        first = session.enumerate();
        check(cell, path, first, true);
        if (cell.how != Provocation::Monitor) {
            EXPECT_TRUE(faults::DescriptorFault::Active()) << "libusb_get_device_descriptor is not interposed";
        }

        if (cell.vanishes) {
            EXPECT_FALSE(bus().isPlugged(kFaulty)) << "the monitor did not vanish";
        } else {
            bus().unplug(kHealthy);
            arm(cell);
            second = session.enumerate();
            aloneRan = true;
            check(cell, path, second, false);
        }
    }
    bus().unplugAll();
    // Every handle and file the driver and the provider opened is closed
    // again. A failed open of an emulated node leaves sockets of umockdev's
    // own behind (libusb_open alone does that, without the driver), so the
    // sockets are not counted there.
    bool countSockets = cell.kind != usbemu::FaultKind::OpenFails;
    OpenFiles filesAfter = countSockets ? OpenFiles::Settled(filesBefore) : OpenFiles::Now();
    EXPECT_EQ(filesAfter.files, filesBefore.files);
    if (countSockets) {
        EXPECT_LE(filesAfter.sockets, filesBefore.sockets);
    }
    report(cell, path, first, aloneRan ? &second : nullptr);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, testing::ValuesIn(Params(false)), ParamName);
// Transfer timeouts cost 3000 ms each: ctest -L long.
INSTANTIATE_TEST_SUITE_P(Long, FaultMatrix, testing::ValuesIn(Params(true)), ParamName);

// The fault-free records the cells compare against hold what the monitors
// send, so that every changed field in a cell is a real change.
TEST(FaultMatrixBaseline, RecordsOfTheFaultFreeMonitors)
{
    std::map<std::string, DisplayInformation>& b = Baselines();
    ASSERT_EQ(b.size(), 3u);
    const DisplayInformation& vga = b[faults::kVgaFaultyId];
    EXPECT_EQ(vga.hoursPoweredCount, 500u);
    EXPECT_EQ(vga.currentBacklightPowerOnHours, 490u);
    EXPECT_EQ(vga.currentBrightnessLevel, 70u);
    EXPECT_EQ(vga.backlightState, 2u);
    EXPECT_EQ(vga.currentVideoSource, "VGA");
    EXPECT_EQ(vga.horizontalResolution, 1366u);
    EXPECT_EQ(vga.manufacturerName, "ABC");
    EXPECT_NE(vga.horizontalScreenSize, 0u);
    EXPECT_FALSE(vga.supportedResolutionsAndRefreshRates.empty());
    EXPECT_NE(vga.preferredResolutionAndRefreshRate, "Unknown");
    const DisplayInformation& dp = b[faults::kDpFaultyId];
    EXPECT_EQ(dp.currentVideoSource, "DisplayPort");
    EXPECT_EQ(dp.manufacturerName, "ABC");
    EXPECT_EQ(dp.hoursPoweredCount, 700u);
    EXPECT_EQ(b[faults::kHealthyId].currentBrightnessLevel, 60u);
}

}  // namespace
