// The caller's records are handed over from the enumeration rather than
// copied; they must still hold every field, equal to the record the
// listener gets for the same monitor (built separately), in bus order, at
// every enumeration.
#include <tuple>

#include "EmuFixture.h"

namespace {

auto Fields(const DisplayInformation& d)
{
    return std::tie(d.bus, d.deviceCategory, d.firmwareRevision, d.manufactureDate, d.manufacturerName,
                    d.mechanicalRevision, d.physicalDeviceName, d.modelName, d.serialNumber,
                    d.horizontalScreenSize, d.verticalScreenSize, d.horizontalResolution, d.verticalResolution,
                    d.refreshRate, d.supportedResolutionsAndRefreshRates, d.preferredResolutionAndRefreshRate,
                    d.displayTechnology, d.scanMode, d.supportsColor, d.supportedVideoSources,
                    d.currentVideoSource, d.lightSourceType, d.lightSourceIlluminationType, d.lightSourceCount,
                    d.recommendedBrightnessLevel, d.currentBrightnessLevel, d.backlightState,
                    d.hoursPoweredCount, d.currentBacklightPowerOnHours, d.powerManagementModes);
}

class RecordHandOver : public EmuTest {};

}  // namespace

TEST_F(RecordHandOver, CallersRecordsEqualTheListenersCopiesAtEveryEnumeration)
{
    bus().plug(Monitor("a", "000000A", 0x4676));
    bus().plug(Monitor("b", "000000B", 0x4678));
    bus().plug(Monitor("c", "000000C", 0x4679));
    DisplayApi api;
    ASSERT_EQ(api.initialiseDisplayDriver(), DSP_OK);
    RecordingListener listener;
    api.setDisplayListener(&listener);

    DisplayInformationList first;
    {
        testsupport::StdoutCapture quiet;
        ASSERT_EQ(api.getDisplayInformationList(first), DSP_OK);
    }
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(listener.calls.size(), 3u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_TRUE(listener.calls[i].created);
        EXPECT_TRUE(Fields(first[i]) == Fields(listener.calls[i].info)) << "monitor " << i;
        EXPECT_FALSE(first[i].supportedResolutionsAndRefreshRates.empty());
        EXPECT_FALSE(first[i].supportedVideoSources.empty());
    }

    // No change: the same records again, appended after what the list held.
    DisplayInformationList second = first;
    {
        testsupport::StdoutCapture quiet;
        ASSERT_EQ(api.getDisplayInformationList(second), DSP_OK);
    }
    ASSERT_EQ(second.size(), 6u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(Fields(second[i]) == Fields(first[i])) << "monitor " << i;
        EXPECT_TRUE(Fields(second[i + 3]) == Fields(first[i])) << "monitor " << i;
    }
    EXPECT_EQ(listener.calls.size(), 3u);
    api.clearDisplayListener();
}
