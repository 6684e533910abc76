// Fixture of the tests that run the driver against emulated monitors: the
// driver's log goes to a file on the private scratch tmpfs (set up before
// the first log line of the process), and every test starts and ends with an
// empty bus.
#ifndef PNLMON_TEST_DISPLAY_EMUFIXTURE_H
#define PNLMON_TEST_DISPLAY_EMUFIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EmulatedBus.h"
#include "Fault.h"
#include "InventoryFields.h"
#include "MonitorReports.h"
#include "MonitorSpec.h"
#include "TestSupport.h"
#include "WireEvent.h"
#include "display.h"

class EmuTest : public ::testing::Test {
public:
    static const std::string& LogFile();

protected:
    void SetUp() override;
    void TearDown() override;

    usbemu::EmulatedBus& bus() { return usbemu::EmulatedBus::instance(); }

    // The driver's log lines (message fields) since the test started.
    std::vector<std::string> LogLines() const;
    std::string LogText() const;
    int Count(const std::string& message) const;
    bool Has(const std::string& message) const { return Count(message) > 0; }
    bool HasPrefix(const std::string& prefix) const;
    // Forgets the lines logged so far.
    void ResetLog() { logStart = testsupport::FileSize(LogFile()); }

    // A monitor of the first family with the given name and serial number.
    static usbemu::MonitorSpec Monitor(const std::string& name, const std::string& serial,
                                       uint16_t pid = 0x4676);

private:
    size_t logStart = 0;
};

// Records the listener calls in order.
class RecordingListener : public IDisplayListener {
public:
    struct Call {
        bool created;
        DisplayInformation info;
    };
    void DisplayCreated(DisplayInformation info) override { calls.push_back({true, info}); }
    void DisplayDeleted(DisplayInformation info) override { calls.push_back({false, info}); }

    // "+id" for an arrival, "-id" for a departure, in call order.
    std::vector<std::string> Events() const;

    std::vector<Call> calls;
};

#endif
