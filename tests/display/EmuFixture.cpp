#include "EmuFixture.h"

#include <unistd.h>

#include "Sandbox.h"

namespace {

// Routes the log before any test (and so before the first log line) runs.
class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { testsupport::RouteLog(EmuTest::LogFile()); }
};

const ::testing::Environment* const g_logEnvironment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

}  // namespace

const std::string& EmuTest::LogFile()
{
    static const std::string file = sandbox::ScratchDir() + "/driver." + std::to_string(getpid()) + ".log";
    return file;
}

void EmuTest::SetUp()
{
    bus().unplugAll();
    logStart = testsupport::FileSize(LogFile());
}

void EmuTest::TearDown()
{
    bus().unplugAll();
}

std::string EmuTest::LogText() const
{
    return testsupport::ReadFrom(LogFile(), logStart);
}

std::vector<std::string> EmuTest::LogLines() const
{
    return testsupport::Messages(LogText());
}

int EmuTest::Count(const std::string& message) const
{
    return testsupport::CountMessage(LogText(), message);
}

bool EmuTest::HasPrefix(const std::string& prefix) const
{
    for (const std::string& line : LogLines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

usbemu::MonitorSpec EmuTest::Monitor(const std::string& name, const std::string& serial, uint16_t pid)
{
    usbemu::MonitorSpec spec;
    spec.name = name;
    spec.pid = pid;
    usbemu::InventoryFields fields;
    fields.serialNumber = serial;
    spec.inventory = fields.bytes();
    return spec;
}

std::vector<std::string> RecordingListener::Events() const
{
    std::vector<std::string> events;
    for (const Call& call : calls) {
        std::string id;
        call.info.getDeviceId(id);
        events.push_back((call.created ? "+" : "-") + id);
    }
    return events;
}
