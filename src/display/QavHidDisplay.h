// One attached monitor: reads its descriptors, opens it, claims interface 0,
// fetches the inventory, EDID and OSD reports over HID, releases and closes
// it again, and builds its DisplayInformation record from the decoded
// values. Nothing stays open once initialise has returned: other programs
// (a technician's tool, a flash utility) can claim the monitor between two
// reads.
#ifndef PNLMON_QAVHIDDISPLAY_H
#define PNLMON_QAVHIDDISPLAY_H

#include <libusb.h>

#include <string>
#include <vector>

#include "DeviceData.h"
#include "Edid.h"
#include "Inventory.h"
#include "Osd.h"
#include "display.h"

class QavHidDisplay {
public:
    // Length of every output and input report.
    static const int REPORT_LEN = 48;
    // Timeout of every transfer, in milliseconds.
    static const unsigned int TRANSFER_TIMEOUT = 3000;

    static const unsigned char CMD_INVENTORY = 0x01;
    static const unsigned char CMD_EDID = 0x0B;
    static const unsigned char CMD_OSD = 0x0D;

    QavHidDisplay();
    ~QavHidDisplay();
    QavHidDisplay(const QavHidDisplay&) = delete;
    QavHidDisplay& operator=(const QavHidDisplay&) = delete;

    // Claim attempts while another program holds the interface, and the
    // pause between two: a holder that lets go within about half a second
    // does not keep the monitor from being read.
    static constexpr int CLAIM_TRIES = 5;
    static constexpr unsigned int CLAIM_RETRY_DELAY_MS = 100;

    // True when the monitor has been opened, claimed and fully read. Either
    // way the interface is released (its kernel driver given back) and the
    // device closed before it returns. The device is not owned.
    bool initialise(libusb_device* dev);
    // Releases the interface and closes the handle, if open. Repeatable.
    void terminate();

    // True when the last initialise found the interface held by another
    // program through every claim attempt.
    bool isBusy() const { return state == DisplayReport::BUSY; }
    // Marks the monitor's data as not refreshed: another program held it at
    // the latest enumeration, which kept this earlier read.
    void markBusy();
    uint8_t getBusNumber() const { return busNumber; }
    uint8_t getDeviceAddress() const { return deviceAddress; }
    unsigned short getVendorId() const { return vid; }
    unsigned short getProductId() const { return pid; }

    // Fills a fresh record from the decoded reports; list fields are appended to.
    void buildDeviceInformation(DisplayInformation& displayInformation);

    void getPhysicalDeviceName(std::string& pdn);
    void getModelName(std::string& mn);
    void getSerialNumber(std::string& sn);
    void getDeviceId(std::string& devId);

    // The identity the monitor reports: machine, model and serial number
    // joined by hyphens, as read.
    std::string getReportedIdentity() const;
    // Its place on the bus (HidIo::getPortPath), known once initialise ran.
    const std::string& getPlace() const { return place; }
    // The text appended to the serial number of the record and device
    // identifier ("" for none), where another monitor reports the same
    // identity: it keeps the monitors' identifiers apart.
    void setKeySuffix(const std::string& suffix) { keySuffix = suffix; }
    const std::string& getKeySuffix() const { return keySuffix; }

    // Where the monitor sits, how far initialise got and the report bytes
    // read so far, whether initialise succeeded or not.
    void getReport(DisplayReport& report);

    // Logs len bytes at DEBUG under a title line, eight "%02x " groups a
    // line: the same as HexDump::log.
    static void dumpBytes(const unsigned char* bytes, int len, const char* str);

private:
    bool parseDescriptors(libusb_device* dev);
    // Claims interface 0, trying again while another program holds it.
    bool claim();
    // The three exchanges, on the claimed interface.
    bool readReports();
    bool getInventory();
    bool getEdid128();
    bool getEdid256();
    bool getOsd();
    void setDeviceData();

    // One SET_REPORT with the command, then `reads` interrupt reads of 48
    // bytes each, concatenated into `into` (which must hold reads * 48 bytes).
    bool exchange(unsigned char command, unsigned char selector, int reads, unsigned char* into);
    void closeDevice(bool release);
    // The serial number of the record: the reported one, or with a key
    // suffix the reported one up to its first NUL (where identifiers end)
    // followed by the suffix.
    std::string recordSerialNumber() const;

    bool init;
    libusb_device_handle* udev;
    // The kernel driver was detached by hand and goes back at the release.
    bool reattach;
    unsigned short vid;
    unsigned short pid;
    unsigned short fw;
    unsigned short intf;
    unsigned char ep;
    uint8_t busNumber;
    uint8_t deviceAddress;
    int state;
    int usbError;
    std::string place;
    std::string keySuffix;
    std::vector<unsigned char> rawInventory;
    std::vector<unsigned char> rawEdid;
    std::vector<unsigned char> rawOsd;
    Inventory inventory;
    Edid edid;
    Osd osd;
    DeviceData deviceData;
};

#endif
