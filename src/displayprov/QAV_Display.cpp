#include "QAV_Display.h"

#include "Cmpi.h"
#include "log.h"

namespace {
const char kNameSpace[] = "root/cimv2";
const char kClassName[] = "QAV_Display";

void Append(str_list_t& field, str_list_t values)
{
    for (std::string& value : values) {
        field.push_back(std::move(value));
    }
}

void SetStringList(const CMPIBroker* broker, CMPIInstance* instance, const char* name,
                   const str_list_t& values)
{
    CMPIArray* array = Cmpi::MakeNewCharsArray(broker, static_cast<CMPICount>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        Cmpi::SetCharsArrayElementAt(array, static_cast<CMPICount>(i), values[i]);
    }
    Cmpi::SetCharsArrayProperty(instance, name, array);
}
}

QAV_Display::QAV_Display()
    : creationClassName(kClassName),
      systemName("Vostran POS Monitor Inventory Drivers"),
      systemCreationClassName("ComputerSystem")
{
    LogQuick(LEVEL_DEBUG, "QAV_Display constructed");
}

QAV_Display::~QAV_Display()
{
    supportedResolutionsAndRefreshRates.clear();
    supportedVideoSources.clear();
    powerManagementModes.clear();
    LogQuick(LEVEL_DEBUG, "QAV_Display destroyed");
}

void QAV_Display::setSupportedResolutionsAndRefreshRates(str_list_t values)
{
    Append(supportedResolutionsAndRefreshRates, std::move(values));
}

void QAV_Display::setSupportedVideoSources(str_list_t values)
{
    Append(supportedVideoSources, std::move(values));
}

void QAV_Display::setPowerManagementModes(str_list_t values)
{
    Append(powerManagementModes, std::move(values));
}

CMPIObjectPath* QAV_Display::getObjectPath(const CMPIBroker* broker) const
{
    CMPIObjectPath* path = Cmpi::MakeNewObjectPath(broker, kNameSpace, kClassName);
    Cmpi::AddCharsKey(path, "DeviceID", deviceID);
    return path;
}

CMPIInstance* QAV_Display::getInstance(const CMPIBroker* broker) const
{
    CMPIObjectPath* path = getObjectPath(broker);
    CMPIInstance* instance = Cmpi::MakeNewInstance(broker, path);

    Cmpi::SetCharsProperty(instance, "DeviceID", deviceID);
    Cmpi::SetCharsProperty(instance, "Bus", bus);
    Cmpi::SetCharsProperty(instance, "DeviceCategory", deviceCategory);
    Cmpi::SetCharsProperty(instance, "FirmwareRevision", firmwareRevision);
    Cmpi::SetCharsProperty(instance, "ManufactureDate", manufactureDate);
    Cmpi::SetCharsProperty(instance, "ManufacturerName", manufacturerName);
    Cmpi::SetCharsProperty(instance, "MechanicalRevision", mechanicalRevision);
    Cmpi::SetCharsProperty(instance, "PhysicalDeviceName", physicalDeviceName);
    Cmpi::SetCharsProperty(instance, "ModelName", modelName);
    Cmpi::SetCharsProperty(instance, "SerialNumber", serialNumber);
    Cmpi::SetUint32Property(instance, "HorizontalScreenSize", horizontalScreenSize);
    Cmpi::SetUint32Property(instance, "VerticalScreenSize", verticalScreenSize);
    Cmpi::SetUint32Property(instance, "HorizontalResolution", horizontalResolution);
    Cmpi::SetUint32Property(instance, "VerticalResolution", verticalResolution);
    Cmpi::SetUint32Property(instance, "RefreshRate", refreshRate);
    SetStringList(broker, instance, "SupportedResolutionsAndRefreshRates",
                  supportedResolutionsAndRefreshRates);
    Cmpi::SetCharsProperty(instance, "PreferredResolutionAndRefreshRate",
                           preferredResolutionAndRefreshRate);
    Cmpi::SetUint16Property(instance, "DisplayTechnology", displayTechnology);
    Cmpi::SetUint16Property(instance, "ScanMode", scanMode);
    Cmpi::SetBooleanProperty(instance, "SupportsColor", supportsColor);
    SetStringList(broker, instance, "SupportedVideoSources", supportedVideoSources);
    Cmpi::SetCharsProperty(instance, "CurrentVideoSource", currentVideoSource);
    Cmpi::SetUint16Property(instance, "LightSourceType", lightSourceType);
    Cmpi::SetUint16Property(instance, "LightSourceIlluminationType", lightSourceIlluminationType);
    Cmpi::SetUint16Property(instance, "LightSourceCount", lightSourceCount);
    Cmpi::SetUint16Property(instance, "RecommendedBrightnessLevel", recommendedBrightnessLevel);
    Cmpi::SetUint16Property(instance, "CurrentBrightnessLevel", currentBrightnessLevel);
    Cmpi::SetUint16Property(instance, "BacklightState", backlightState);
    Cmpi::SetUint64Property(instance, "HoursPoweredCount", hoursPoweredCount);
    Cmpi::SetUint32Property(instance, "CurrentBacklightPowerOnHours", currentBacklightPowerOnHours);
    SetStringList(broker, instance, "PowerManagementModes", powerManagementModes);
    Cmpi::SetCharsProperty(instance, "Caption", caption);
    Cmpi::SetCharsProperty(instance, "CreationClassName", creationClassName);
    Cmpi::SetCharsProperty(instance, "Description", description);
    Cmpi::SetCharsProperty(instance, "SystemCreationClassName", systemCreationClassName);
    Cmpi::SetCharsProperty(instance, "SystemName", systemName);
    return instance;
}
