#include "DeviceData.h"

#include "log.h"

namespace {

// The fixed attributes of each family, indexed by family code.
struct FamilyAttributes {
    const char* name;
    unsigned short displayTechnology;
    unsigned short scanMode;
    unsigned short lightSourceType;
    unsigned short lightSourceIlluminationType;
    unsigned short lightSourceCount;
    unsigned short recommendedBrightnessLevel;
    const char* const* videoSources;  // null-terminated
};

const char* const kNoInputs[] = {nullptr};
const char* const kVgaOnly[] = {"VGA", nullptr};
const char* const kVgaAndDisplayPort[] = {"VGA", "DisplayPort", nullptr};

const FamilyAttributes kFamilies[] = {
    {"unknown", 0, 0, 0, 0, 0, 0, kNoInputs},
    {"Tilo", 3, 2, 3, 2, 2, 22, kVgaOnly},
    {"Merv", 3, 2, 2, 2, 2, 22, kVgaOnly},
    {"Sarn", 3, 2, 2, 2, 2, 22, kVgaAndDisplayPort},
};
const unsigned short kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

const FamilyAttributes& Family(unsigned short device)
{
    return kFamilies[device < kFamilyCount ? device : 0];
}

}  // namespace

DeviceData::DeviceData()
    : device(kUnknown),
      displayTechnology(0),
      scanMode(0),
      lightSourceType(0),
      lightSourceIlluminationType(0),
      lightSourceCount(0),
      recommendedBrightnessLevel(0)
{
    LogQuick(LEVEL_DEBUG, "DeviceData Constructed");
}

DeviceData::~DeviceData()
{
    device = kUnknown;
    supportedVideoSources.clear();
    LogQuick(LEVEL_DEBUG, "DeviceData Destroyed");
}

void DeviceData::setData(Inventory& inventory, unsigned short pid)
{
    clear();
    setDevice(inventory, pid);
    setDisplayTechnology(inventory);
    setScanMode(inventory);
    setLightSourceType(pid);
    setLightSourceIlluminationType(pid);
    setLightSourceCount(pid);
    setRecommendedBrightnessLevel(inventory);
    setSupportedVideoSources(inventory);
    ___dump();
}

const char* DeviceData::familyName() const
{
    return Family(device).name;
}

void DeviceData::clear()
{
    device = kUnknown;
    supportedVideoSources.clear();
}

bool DeviceData::isTilo()
{
    return device == kTilo;
}

bool DeviceData::isMerv()
{
    return device == kMerv;
}

bool DeviceData::isSarn()
{
    return device == kSarn;
}

void DeviceData::setDevice(Inventory& inventory, unsigned short pid)
{
    device = kUnknown;
    if (inventory.isTilmerv()) {
        // The product id passed in decides between the two families of the
        // inventory's vendor.
        unsigned short family = SupportedMonitorTable::family(inventory.vid, pid);
        if (family == kTilo || family == kMerv) {
            device = family;
        }
    } else if (inventory.isSarn()) {
        device = kSarn;
    }
}

// The attribute steps decide on the family alone.
void DeviceData::setDisplayTechnology(Inventory&)
{
    displayTechnology = Family(device).displayTechnology;
}

void DeviceData::setScanMode(Inventory&)
{
    scanMode = Family(device).scanMode;
}

void DeviceData::setLightSourceType(unsigned short)
{
    lightSourceType = Family(device).lightSourceType;
}

void DeviceData::setLightSourceIlluminationType(unsigned short)
{
    lightSourceIlluminationType = Family(device).lightSourceIlluminationType;
}

void DeviceData::setLightSourceCount(unsigned short)
{
    lightSourceCount = Family(device).lightSourceCount;
}

void DeviceData::setRecommendedBrightnessLevel(Inventory&)
{
    recommendedBrightnessLevel = Family(device).recommendedBrightnessLevel;
}

void DeviceData::setSupportedVideoSources(Inventory&)
{
    for (const char* const* source = Family(device).videoSources; *source != nullptr; ++source) {
        supportedVideoSources.push_back(*source);
    }
}

void DeviceData::___dump()
{
    if (isTilo()) {
        LogQuick(LEVEL_DEBUG, "ZVEK Device family is 'Tilo'");
    } else if (isMerv()) {
        LogQuick(LEVEL_DEBUG, "ZVEK Device family is 'Merv'");
    } else if (isSarn()) {
        LogQuick(LEVEL_DEBUG, "ZVEK Device family is 'Sarn'");
    } else {
        LogQuick(LEVEL_DEBUG, "ZVEK Device family is unknown");
    }
    Log(LEVEL_DEBUG, "display technology: %d ", displayTechnology);
    Log(LEVEL_DEBUG, "scan mode: %d ", scanMode);
    Log(LEVEL_DEBUG, "light source type: %d ", lightSourceType);
    Log(LEVEL_DEBUG, "light source illumination type: %d ", lightSourceIlluminationType);
    Log(LEVEL_DEBUG, "light source count: %d ", lightSourceCount);
    Log(LEVEL_DEBUG, "recommended brightness level: %d ", recommendedBrightnessLevel);
    Log(LEVEL_DEBUG, "supportedVideoSources:");
    for (const std::string& source : supportedVideoSources) {
        Log(LEVEL_DEBUG, " %s ", source.c_str());
    }
}
