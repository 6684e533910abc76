#include "QavHidDisplay.h"

#include <unistd.h>

#include <cstring>
#include <memory>

#include "HexDump.h"
#include "HidIo.h"
#include "log.h"

namespace {
const int kMaxInterfaces = 3;

bool IsInterruptIn(const libusb_endpoint_descriptor& endpoint)
{
    return (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN &&
           (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT;
}
}  // namespace

QavHidDisplay::QavHidDisplay()
    : init(false), udev(nullptr), reattach(false), vid(0), pid(0), fw(0), intf(0), ep(0), busNumber(0), deviceAddress(0),
      state(DisplayReport::DESCRIPTOR_FAILED), usbError(0)
{
    LogQuick(LEVEL_DEBUG, "QavHidDisplay Constructed");
}

QavHidDisplay::~QavHidDisplay()
{
    terminate();
    LogQuick(LEVEL_DEBUG, "QavHidDisplay Destroyed");
}

bool QavHidDisplay::parseDescriptors(libusb_device* dev)
{
    libusb_device_descriptor desc;
    int result = HidIo::getDeviceDescriptor(dev, &desc);
    if (result < 0) {
        Log(LEVEL_ERROR, "libusb_get_device_descriptor failed, err=%08x,%i", static_cast<unsigned>(result), result);
        return false;
    }
    intf = 0;
    vid = desc.idVendor;
    pid = desc.idProduct;
    fw = desc.bcdDevice;

    libusb_config_descriptor* config = nullptr;
    result = HidIo::getActiveConfigDescriptor(dev, &config);
    if (result < 0) {
        Log(LEVEL_ERROR, "libusb_get_active_config_descriptor failed, err=%08x,%i\n", static_cast<unsigned>(result),
            result);
        return false;
    }
    bool ok = false;
    if (config->bNumInterfaces == 0) {
        LogQuick(LEVEL_ERROR, "not enough interfaces in config\n");
    } else if (config->bNumInterfaces > kMaxInterfaces) {
        Log(LEVEL_ERROR, "too many interfaces in config: %d\n", config->bNumInterfaces);
    } else if (config->interface[intf].num_altsetting <= 0) {
        LogQuick(LEVEL_ERROR, "no alt settings in config\n");
    } else if (config->interface[intf].altsetting[0].bNumEndpoints == 0 ||
               !IsInterruptIn(config->interface[intf].altsetting[0].endpoint[0])) {
        // Only an interrupt IN endpoint delivers input reports: a transfer
        // on any other would write to the monitor or never be answered.
        LogQuick(LEVEL_ERROR, "no endpoints in interface config\n");
    } else {
        // The first endpoint of interface 0 is the interrupt endpoint the
        // input reports come from.
        ep = config->interface[intf].altsetting[0].endpoint[0].bEndpointAddress;
        Log(LEVEL_DEBUG, "Device %04x:%04x, fw=%04x -  Monitor Interface %d - Interrupt EP=0x%02x", vid, pid, fw,
            intf, ep);
        ok = true;
    }
    HidIo::freeConfigDescriptor(config);
    return ok;
}

bool QavHidDisplay::initialise(libusb_device* dev)
{
    LogQuick(LEVEL_TRACE, "QavHidDisplay::initialise");
    busNumber = HidIo::getBusNumber(dev);
    place = HidIo::getPortPath(dev);
    deviceAddress = HidIo::getDeviceAddress(dev);
    state = DisplayReport::DESCRIPTOR_FAILED;
    usbError = 0;
    if (!parseDescriptors(dev)) {
        return false;
    }
    state = DisplayReport::OPEN_FAILED;
    int opened = HidIo::open(dev, &udev);
    if (opened < 0) {
        usbError = opened;
        udev = nullptr;
        LogQuick(LEVEL_ERROR, "QavHidDisplay::initialise - failed to open sysfs device");
        return false;
    }
    if (!claim()) {
        closeDevice(false);
        return false;
    }
    state = DisplayReport::REPORT_FAILED;
    Log(LEVEL_TRACE, "Claimed interface %d", intf);
    bool ok = readReports();
    // Held only for the reads: released (and its kernel driver given back)
    // whatever they gave.
    closeDevice(true);
    if (!ok) {
        return false;
    }
    init = true;
    state = DisplayReport::READ;
    LogQuick(LEVEL_DEBUG, "QavHidDisplay::initialise - Ok");
    return true;
}

bool QavHidDisplay::claim()
{
    state = DisplayReport::CLAIM_FAILED;
    for (int attempt = 1;; ++attempt) {
        int result = HidIo::claimInterface(udev, intf, reattach);
        if (result == 0) {
            return true;
        }
        usbError = result;
        if (result != LIBUSB_ERROR_BUSY) {
            return false;
        }
        if (attempt >= CLAIM_TRIES) {
            break;
        }
        usleep(CLAIM_RETRY_DELAY_MS * 1000);
    }
    state = DisplayReport::BUSY;
    return false;
}

bool QavHidDisplay::readReports()
{
    if (!getInventory()) {
        LogQuick(LEVEL_ERROR, "QavHidDisplay::initialise - getInventory failed");
        return false;
    }
    Log(LEVEL_DEBUG, "QavHidDisplay::initialise - Current Video Source is %s",
        inventory.getVideoSourceString().c_str());

    bool edidOk;
    if (inventory.getVideoSource() == VideoSourceDisplayPort) {
        edidOk = getEdid256();
        Log(LEVEL_DEBUG, "getEdid256() %x", edidOk ? 1 : 0);
    } else {
        edidOk = getEdid128();
        Log(LEVEL_DEBUG, "getEdid128() %x", edidOk ? 1 : 0);
    }
    return edidOk && getOsd();
}

void QavHidDisplay::markBusy()
{
    state = DisplayReport::BUSY;
    usbError = LIBUSB_ERROR_BUSY;
}

void QavHidDisplay::closeDevice(bool release)
{
    if (udev == nullptr) {
        return;
    }
    if (release) {
        HidIo::releaseInterface(udev, intf, reattach);
        reattach = false;
    }
    HidIo::close(udev);
    udev = nullptr;
}

void QavHidDisplay::terminate()
{
    LogQuick(LEVEL_DEBUG, "QavHidDisplay::terminate");
    closeDevice(true);
    LogQuick(LEVEL_DEBUG, "QavHidDisplay::terminate - Ok");
}

bool QavHidDisplay::exchange(unsigned char command, unsigned char selector, int reads, unsigned char* into)
{
    std::unique_ptr<unsigned char[]> request(new unsigned char[REPORT_LEN]());
    request[1] = command;
    request[2] = selector;
    bool sent = HidIo::setReport(udev, intf, request.get(), REPORT_LEN, TRANSFER_TIMEOUT);
    request.reset();
    if (!sent) {
        return false;
    }
    for (int i = 0; i < reads; ++i) {
        std::unique_ptr<unsigned char[]> report(new unsigned char[REPORT_LEN]());
        if (!HidIo::interruptRead(udev, static_cast<char>(ep), report.get(), REPORT_LEN, TRANSFER_TIMEOUT)) {
            return false;
        }
        memcpy(into + i * REPORT_LEN, report.get(), REPORT_LEN);
    }
    return true;
}

bool QavHidDisplay::getInventory()
{
    unsigned char bytes[REPORT_LEN] = {0};
    if (!exchange(CMD_INVENTORY, 0x00, 1, bytes)) {
        return false;
    }
    rawInventory.assign(bytes, bytes + REPORT_LEN);
    HexDump::log(bytes, REPORT_LEN, "Inventory Bytes");
    if (!inventory.initialise(reinterpret_cast<const char*>(bytes), REPORT_LEN, vid, pid)) {
        return false;
    }
    setDeviceData();
    return true;
}

bool QavHidDisplay::getEdid128()
{
    unsigned char bytes[256] = {0};
    if (!exchange(CMD_EDID, 0x00, 3, bytes)) {
        return false;
    }
    rawEdid.assign(bytes, bytes + 128);
    HexDump::log(bytes, 128, "EDID Bytes");
    edid.initialise(bytes, 128);
    return true;
}

bool QavHidDisplay::getEdid256()
{
    unsigned char bytes[384] = {0};
    if (!exchange(CMD_EDID, 0x01, 6, bytes)) {
        return false;
    }
    rawEdid.assign(bytes, bytes + 256);
    HexDump::log(bytes, 128, "DisplayPort EDID Bytes - First Block");
    edid.initialise(bytes, 128);
    HexDump::log(bytes + 128, 128, "DisplayPort EDID Bytes - Second Block");
    return true;
}

bool QavHidDisplay::getOsd()
{
    unsigned char bytes[REPORT_LEN] = {0};
    if (!exchange(CMD_OSD, 0x00, 1, bytes)) {
        return false;
    }
    rawOsd.assign(bytes, bytes + REPORT_LEN);
    HexDump::log(bytes, REPORT_LEN, "OSD Bytes");
    osd.initialise(bytes, REPORT_LEN);
    return true;
}

void QavHidDisplay::setDeviceData()
{
    deviceData.setData(inventory, pid);
}

void QavHidDisplay::dumpBytes(const unsigned char* bytes, int len, const char* str)
{
    HexDump::log(bytes, len, str);
}

void QavHidDisplay::buildDeviceInformation(DisplayInformation& info)
{
    info.bus = "USB";
    info.deviceCategory = "Display";
    info.firmwareRevision = inventory.firmwareRevision;
    info.manufactureDate = edid.manufactureDate;
    info.manufacturerName = edid.manufacturerName;
    info.mechanicalRevision = "Uknown";
    info.physicalDeviceName = inventory.machine;
    info.modelName = inventory.model;
    info.serialNumber = recordSerialNumber();
    info.horizontalScreenSize = edid.horizontalScreenSize;
    info.verticalScreenSize = edid.verticalScreenSize;
    info.horizontalResolution = osd.currentHorizontalResolution;
    info.verticalResolution = osd.currentVerticalResolution;
    info.refreshRate = osd.currentRefreshRate;
    for (const std::string& mode : edid.supportedResolutionsAndRefreshRates) {
        info.supportedResolutionsAndRefreshRates.push_back(mode);
    }
    info.preferredResolutionAndRefreshRate = edid.preferredResolutionAndRefreshRate;
    info.displayTechnology = deviceData.displayTechnology;
    info.scanMode = deviceData.scanMode;
    info.supportsColor = edid.supportsColor;
    for (const std::string& source : deviceData.supportedVideoSources) {
        info.supportedVideoSources.push_back(source);
    }
    info.currentVideoSource = inventory.getVideoSourceString();
    info.lightSourceType = deviceData.lightSourceType;
    info.lightSourceIlluminationType = deviceData.lightSourceIlluminationType;
    info.lightSourceCount = deviceData.lightSourceCount;
    info.recommendedBrightnessLevel = deviceData.recommendedBrightnessLevel;
    info.currentBrightnessLevel = inventory.backlightBrightnessPercent;
    info.backlightState = inventory.backlightFault;
    info.hoursPoweredCount = static_cast<uint64_t>(static_cast<uint32_t>(inventory.powerOnHours));
    info.currentBacklightPowerOnHours = inventory.backlightPowerOnHours;
    for (const std::string& mode : edid.powerManagementModes) {
        info.powerManagementModes.push_back(mode);
    }
}

void QavHidDisplay::getPhysicalDeviceName(std::string& pdn)
{
    pdn = inventory.machine;
}

void QavHidDisplay::getModelName(std::string& mn)
{
    mn = inventory.model;
}

void QavHidDisplay::getSerialNumber(std::string& sn)
{
    sn = recordSerialNumber();
}

void QavHidDisplay::getDeviceId(std::string& devId)
{
    devId = inventory.machine + "-" + inventory.model + "-" + recordSerialNumber();
}

std::string QavHidDisplay::getReportedIdentity() const
{
    return inventory.machine + "-" + inventory.model + "-" + inventory.serialNumber;
}

std::string QavHidDisplay::recordSerialNumber() const
{
    if (keySuffix.empty()) {
        return inventory.serialNumber;
    }
    return inventory.serialNumber.substr(0, inventory.serialNumber.find('\0')) + keySuffix;
}

void QavHidDisplay::getReport(DisplayReport& report)
{
    report.busNumber = busNumber;
    report.deviceAddress = deviceAddress;
    report.vendorId = vid;
    report.productId = pid;
    report.state = state;
    report.usbError = usbError;
    report.deviceId.clear();
    if (init && (state == DisplayReport::READ || state == DisplayReport::BUSY)) {
        getDeviceId(report.deviceId);
    }
    report.inventoryReport = rawInventory;
    report.edid = rawEdid;
    report.osdReport = rawOsd;
}
