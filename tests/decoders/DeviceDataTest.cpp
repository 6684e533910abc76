// Device family: chosen from the inventory's ids and the product id, and
// the attributes each family gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "DeviceData.h"
#include "LogCapture.h"
#include "TestReports.h"

namespace {

Inventory& Decoded(Inventory& inventory, unsigned short vid, unsigned short pid)
{
    Bytes report = InventoryReport();
    inventory.initialise(reinterpret_cast<const char*>(report.data()),
                         static_cast<unsigned int>(report.size()), vid, pid);
    return inventory;
}

struct Attributes {
    unsigned short device, technology, scan, lightType, illumination, count, brightness;
    str_list_t sources;
};

Attributes Of(const DeviceData& data)
{
    return {data.device,
            data.displayTechnology,
            data.scanMode,
            data.lightSourceType,
            data.lightSourceIlluminationType,
            data.lightSourceCount,
            data.recommendedBrightnessLevel,
            data.supportedVideoSources};
}

void ExpectAttributes(const Attributes& want, const DeviceData& data, const std::string& what)
{
    Attributes got = Of(data);
    EXPECT_EQ(want.device, got.device) << what;
    EXPECT_EQ(want.technology, got.technology) << what;
    EXPECT_EQ(want.scan, got.scan) << what;
    EXPECT_EQ(want.lightType, got.lightType) << what;
    EXPECT_EQ(want.illumination, got.illumination) << what;
    EXPECT_EQ(want.count, got.count) << what;
    EXPECT_EQ(want.brightness, got.brightness) << what;
    EXPECT_EQ(want.sources, got.sources) << what;
}

const Attributes kTilo = {1, 3, 2, 3, 2, 2, 22, {"VGA"}};
const Attributes kMerv = {2, 3, 2, 2, 2, 2, 22, {"VGA"}};
const Attributes kSarn = {3, 3, 2, 2, 2, 2, 22, {"VGA", "DisplayPort"}};
const Attributes kNone = {0, 0, 0, 0, 0, 0, 0, {}};

}  // namespace

TEST(DeviceFamily, ChosenByInventoryIdsAndProductId)
{
    const struct {
        unsigned short vid, inventoryPid, pid;
        const Attributes& want;
    } cases[] = {
        {0x04B3, 0x4676, 0x4676, kTilo}, {0x04B3, 0x4676, 0x4679, kMerv},
        {0x04B3, 0x4678, 0x4677, kTilo}, {0x04B3, 0x4676, 0x467A, kNone},
        {0x04B3, 0x4676, 0x4675, kNone}, {0x0F66, 0x467A, 0x4676, kSarn},
        {0x0F66, 0x467A, 0x0000, kSarn}, {0x0F66, 0x4676, 0x4676, kNone},
        {0x04B3, 0x467A, 0x4676, kNone},
    };
    for (const auto& c : cases) {
        Inventory inventory;
        DeviceData data;
        data.setData(Decoded(inventory, c.vid, c.inventoryPid), c.pid);
        char what[64];
        snprintf(what, sizeof(what), "%04x/%04x pid %04x", c.vid, c.inventoryPid, c.pid);
        ExpectAttributes(c.want, data, what);
    }

    Inventory empty;
    DeviceData data;
    data.setData(empty, 0x4676);
    ExpectAttributes(kNone, data, "empty inventory");
}

TEST(DeviceFamily, EverySetDataStartsAfresh)
{
    Inventory sarn, tilo, unknown;
    DeviceData data;
    data.setData(Decoded(sarn, 0x0F66, 0x467A), 0x467A);
    data.setData(sarn, 0x467A);
    ExpectAttributes(kSarn, data, "Sarn twice");

    data.setData(Decoded(tilo, 0x04B3, 0x4676), 0x4676);
    ExpectAttributes(kTilo, data, "Tilo after Sarn");
    data.setData(Decoded(unknown, 0x1234, 0x4676), 0x4676);
    ExpectAttributes(kNone, data, "unknown after Tilo");
}

TEST(DeviceFamily, DumpLines)
{
    LogCapture log = RunLogged([] {
        Inventory inventory;
        DeviceData data;
        data.setData(Decoded(inventory, 0x0F66, 0x467A), 0x467A);
        Inventory other;
        data.setData(other, 0);
        return 0;
    });
    std::vector<std::string> debug = log.messages("Debug");
    auto at = std::find(debug.begin(), debug.end(), "ZVEK Device family is 'Sarn'");
    ASSERT_NE(debug.end(), at);
    EXPECT_EQ((std::vector<std::string>{
                  "ZVEK Device family is 'Sarn'", "display technology: 3 ", "scan mode: 2 ",
                  "light source type: 2 ", "light source illumination type: 2 ",
                  "light source count: 2 ", "recommended brightness level: 22 ",
                  "supportedVideoSources:", " VGA ", " DisplayPort ", "Inventory Constructed",
                  "ZVEK Device family is unknown", "display technology: 0 "}),
              std::vector<std::string>(at, at + 13));
}
