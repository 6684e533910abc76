// Public interface of libvexdisplay: the driver API, its result codes, the
// per-monitor record and the listener for arrivals and departures.
//
// In short: construct one DisplayApi, call initialiseDisplayDriver() once,
// then call getDisplayInformationList() whenever the monitors are wanted.
// Each such call lists the USB bus, opens, reads and closes again every
// supported monitor and hands back one DisplayInformation record per monitor.
// No monitor stays open or claimed between two calls, so other programs on
// the terminal can use the monitors meanwhile. There is no
// background thread and no polling: arrivals and departures are noticed only
// during getDisplayInformationList(), and reported to the listener (if one
// is set) on the calling thread.
//
// Errors are reported as DISPLAY_CODE values, not as exceptions (an
// allocation failure can still throw std::bad_alloc). Each call's codes are
// listed at its declaration. What went wrong in detail goes to the
// library's log (see log.h), not to the caller.
#ifndef PNLMON_DISPLAY_H
#define PNLMON_DISPLAY_H

#include <cstdint>
#include <string>
#include <vector>

#ifndef PNLMON_EXPORT
#define PNLMON_EXPORT __attribute__((visibility("default")))
#endif

typedef std::vector<std::string> str_list_t;

// Result codes. The numbers are fixed: pnlmon-inventory exits with them.
// Codes marked "reserved" are never returned by this version of the
// library; callers should still treat them as failures.
enum DISPLAY_CODE : int {
    DSP_OK = 0,                      // success
    DSP_NOT_INITIALISED = 1,         // initialiseDisplayDriver() has not succeeded yet
    DSP_INTERNAL_ERROR = 2,          // the driver could not create its internal lock
    DSP_ENUMERATION_IN_PROGRESS = 3, // reserved (callers may map it to "monitors unknown")
    DSP_ENUM_FAILED = 4,             // the USB device list could not be obtained
    DSP_NO_DEVICES = 5,              // the bus was listed but no supported monitor could be read
    DSP_UPDATE_FAILED = 6,           // reserved
    DSP_NO_HID_DRIVER = 7,           // reserved
    DSP_FLASH_FAILED = 8,            // reserved
    DSP_NOT_IMPL = 9,                // reserved
    DSP_BAD_ID = 10,                 // reserved
    DSP_FLASH_IN_PROGRESS = 11       // a monitor flash utility runs: the monitors were left alone
};

// Everything the driver reports about one attached monitor. A plain value:
// every member is owned by the record, copies are independent, and nothing
// in it points back into the driver. Text fields are the monitor's own
// bytes; they need not be valid UTF-8.
class DisplayInformation {
public:
    std::string bus;
    std::string deviceCategory;
    std::string firmwareRevision;
    std::string manufactureDate;
    std::string manufacturerName;
    std::string mechanicalRevision;
    std::string physicalDeviceName;
    std::string modelName;
    std::string serialNumber;
    uint32_t horizontalScreenSize = 0;
    uint32_t verticalScreenSize = 0;
    uint32_t horizontalResolution = 0;
    uint32_t verticalResolution = 0;
    uint32_t refreshRate = 0;
    str_list_t supportedResolutionsAndRefreshRates;
    std::string preferredResolutionAndRefreshRate;
    uint16_t displayTechnology = 0;
    uint16_t scanMode = 0;
    bool supportsColor = false;
    str_list_t supportedVideoSources;
    std::string currentVideoSource;
    uint16_t lightSourceType = 0;
    uint16_t lightSourceIlluminationType = 0;
    uint16_t lightSourceCount = 0;
    uint16_t recommendedBrightnessLevel = 0;
    uint16_t currentBrightnessLevel = 0;
    uint16_t backlightState = 0;
    uint64_t hoursPoweredCount = 0;
    uint32_t currentBacklightPowerOnHours = 0;
    str_list_t powerManagementModes;

    // The device identifier: machine type, model and serial number joined
    // by hyphens.
    void getDeviceId(std::string& devId) const {
        devId = physicalDeviceName + "-" + modelName + "-" + serialNumber;
    }
};

typedef std::vector<DisplayInformation> display_list_t;

// The caller's list of records: owned by the caller, filled (appended to)
// by DisplayApi::getDisplayInformationList().
class DisplayInformationList : public display_list_t {
};

// Told of monitor arrivals and departures.
//
// Threading and locks: both functions are called only from inside
// DisplayApi::getDisplayInformationList(), on the thread that called it,
// while that DisplayApi holds its enumeration lock (the lock that lets one
// enumeration run at a time). So calls for one DisplayApi never overlap,
// and arrive in this order within one enumeration: every departure, then
// every arrival. A listener must return promptly, must not throw, and must
// not call back into the same DisplayApi (that would wait for the lock it
// is called under). It may hand the record to another thread.
//
// What counts as a change: a monitor's device identifier (see
// DisplayInformation::getDeviceId) present now and absent in the previous
// enumeration that could list the bus is an arrival, and the reverse a
// departure. The first enumeration of a DisplayApi reports every attached
// monitor as arrived.
//
// Ownership: each call receives its own copy of the record. The listener
// object itself stays the caller's; the DisplayApi only keeps its address.
class PNLMON_EXPORT IDisplayListener {
public:
    IDisplayListener() {}
    virtual ~IDisplayListener() {}
    // A monitor arrived; info is read from it during this enumeration.
    virtual void DisplayCreated(DisplayInformation info) = 0;
    // A monitor left; info is the record of it from the previous enumeration.
    virtual void DisplayDeleted(DisplayInformation info) = 0;
};

// What the driver saw of one supported monitor at the latest enumeration:
// where it sits on the USB bus, how far reading it got, and the report bytes
// exactly as the monitor sent them (for diagnosis and support tickets).
class DisplayReport {
public:
    // How far reading the monitor got.
    enum ReadState : int {
        READ = 0,               // opened and every report read
        DESCRIPTOR_FAILED = 1,  // its USB descriptors could not be read
        OPEN_FAILED = 2,        // the device node could not be opened
        CLAIM_FAILED = 3,       // its interface could not be claimed
        REPORT_FAILED = 4,      // an exchange or a decode failed
        BUSY = 5                // another program holds its interface: not read in the
                                // latest enumeration; the reports (and the monitor's
                                // record in the list) are those of an earlier read
    };
    // A BUSY monitor: the claim found its interface held by another program
    // on every attempt (five attempts 100 ms apart, about half a second).
    // When this DisplayApi had read the monitor at the same bus place
    // before, its record from that read stays in the list (in bus order; no
    // departure or arrival is reported for it) and deviceId and the raw
    // reports are those of that read. A monitor busy when first seen has no
    // record: deviceId and the raw reports are empty, and it arrives at the
    // first enumeration that can read it. usbError is LIBUSB_ERROR_BUSY (-6).
    // CLAIM_FAILED is left for the other claim failures.

    uint8_t busNumber = 0;
    uint8_t deviceAddress = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int state = READ;
    // The libusb error code of the failed step where one is known (for
    // OPEN_FAILED, LIBUSB_ERROR_ACCESS (-3) means no permission), else 0.
    int usbError = 0;
    // The device identifier of the record; empty unless state is READ, or
    // BUSY with a record kept from an earlier read.
    std::string deviceId;
    // The raw reports: the 48-byte inventory report, the EDID (128 bytes, or
    // 256 on DisplayPort) and the 48-byte OSD report. Empty when not read.
    std::vector<unsigned char> inventoryReport;
    std::vector<unsigned char> edid;
    std::vector<unsigned char> osdReport;
};

typedef std::vector<DisplayReport> display_report_list_t;

class DisplayManager;
class HotplugWatcher;

// The driver's front end.
//
// Threading: getDisplayInformationList() may be called from several threads
// at once; the enumerations are serialised by the DisplayApi's enumeration
// lock. Every other member (construction, initialiseDisplayDriver,
// setDisplayListener, clearDisplayListener, destruction) takes no lock: the
// caller calls them from one thread at a time and never while another
// thread is inside getDisplayInformationList() on the same object.
// Construct and destroy DisplayApi objects from one thread at a time (they
// share the process's libusb context and configuration).
//
// A monitor is opened and its interface claimed only while an enumeration
// reads it; it is released (its kernel driver attached again if one was
// detached for the claim) and closed before the next monitor is read. A
// monitor held by another program is tried again for about half a second,
// then reported as DisplayReport::BUSY (see there).
class PNLMON_EXPORT DisplayApi {
public:
    // Reads the configuration (/etc/pnlmon/pnlmon.conf) and initialises
    // libusb; opens no device.
    DisplayApi();
    // Forgets the records. Holds no monitor to release. The listener is not called.
    ~DisplayApi();
    DisplayApi(const DisplayApi&) = delete;
    DisplayApi& operator=(const DisplayApi&) = delete;

    // Prepares the driver; call once before anything else. A second call
    // after success does nothing and answers DSP_OK.
    //   DSP_OK              the driver is ready
    //   DSP_INTERNAL_ERROR  its enumeration lock could not be created; may be retried
    DISPLAY_CODE initialiseDisplayDriver();

    // Lists the bus, reads every supported monitor and, on DSP_OK, appends
    // one record per monitor to list, in bus order. Entries already in list
    // are kept; on any other code list is left unchanged. The listener, if
    // set, is called during this call (see IDisplayListener).
    //   DSP_OK                 at least one record appended
    //   DSP_NOT_INITIALISED    initialiseDisplayDriver() has not succeeded
    //   DSP_FLASH_IN_PROGRESS  a flash utility runs; the bus was not touched, no listener call
    //   DSP_ENUM_FAILED        the USB device list could not be obtained; no listener call
    //   DSP_NO_DEVICES         no supported monitor could be read (departures may have been reported)
    DISPLAY_CODE getDisplayInformationList(DisplayInformationList& list);

    // Sets the one listener (replacing any earlier one). Ignored before
    // initialiseDisplayDriver() has succeeded. The listener is not owned:
    // keep it alive until clearDisplayListener() or the destructor.
    void setDisplayListener(IDisplayListener* listener);
    // Removes the listener; no call reaches it once this has returned.
    // Ignored before initialiseDisplayDriver() has succeeded.
    void clearDisplayListener();

    // The reports of every supported monitor the latest enumeration of this
    // process found, in bus-list order, including those that could not be
    // opened or read; the READ ones and the BUSY ones with a kept record
    // (non-empty deviceId) are in the order of that enumeration's records. Does not touch the bus. Empty before the first enumeration or
    // when the device list could not be obtained.
    DISPLAY_CODE getDisplayReports(display_report_list_t& reports);

    // True when "/etc/pnlmon/pnlmon.conf" asks for arrivals and departures
    // to be announced when they happen ("AnnounceChanges=immediate"), false
    // for announcements at the next request (the default).
    bool announceChangesImmediately();

private:
    bool init;
    DisplayManager* manager;
};

// Told that a supported monitor may have arrived or left. Called on the
// watcher's own thread, which does nothing else meanwhile: return quickly,
// and enumerate from a thread of your own, never from inside the call.
class PNLMON_EXPORT IDisplayChangeListener {
public:
    IDisplayChangeListener() {}
    virtual ~IDisplayChangeListener() {}
    // arrived: a supported monitor was plugged (true) or pulled (false).
    // Several changes close together give several calls.
    virtual void DisplaysMayHaveChanged(bool arrived) = 0;
};

// Watches the USB bus for supported monitors arriving and leaving, without
// polling: the USB library's hotplug events, on a thread of the watcher that
// sleeps between events. It opens no monitor; enumerating is the caller's
// business (DisplayApi::getDisplayInformationList).
class PNLMON_EXPORT DisplayChangeWatcher {
public:
    DisplayChangeWatcher();
    ~DisplayChangeWatcher();
    DisplayChangeWatcher(const DisplayChangeWatcher&) = delete;
    DisplayChangeWatcher& operator=(const DisplayChangeWatcher&) = delete;

    // DSP_OK: watching (also when it already was). DSP_NOT_IMPL: the USB
    // library cannot report arrivals and departures on this system (logged
    // once per process); announce at requests instead. DSP_INTERNAL_ERROR:
    // the USB library refused. DSP_BAD_ID: no listener.
    DISPLAY_CODE start(IDisplayChangeListener* listener);
    // Stops and joins the watcher's thread: once it returns, the listener is
    // not called again. Must not be called from inside the listener.
    void stop();
    bool isWatching() const;

private:
    HotplugWatcher* watcher;
};

// Identification strings, found by looking at the library file or at a
// process's memory. Static storage owned by the library; read them, do not
// write them.
extern "C" {
PNLMON_EXPORT extern char EyeCatcher1[4];
PNLMON_EXPORT extern char PnlmonlVersion[26];
PNLMON_EXPORT extern char BuildDate[33];
PNLMON_EXPORT extern char ExtraInfo[1];
PNLMON_EXPORT extern char EyeCatcher2[4];
}

#endif
