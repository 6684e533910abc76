// How pnlmon-inventory shows one monitor: its record (when it could be
// read) together with what the driver saw of it on the bus. The table and
// list views escape monitor bytes for the terminal; the JSON view keeps the
// record's numbers and makes every text valid UTF-8 without losing a byte.
#ifndef PNLMON_MONITORVIEW_H
#define PNLMON_MONITORVIEW_H

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

#include "display.h"

class MonitorView {
public:
    // record may be null (the monitor could not be read); report may be
    // null (nothing known of its place on the bus).
    MonitorView(const DisplayInformation* record, const DisplayReport* report);

    const DisplayInformation* record() const { return info; }
    const DisplayReport* report() const { return usb; }

    // The process that holds a busy monitor, when it could be found.
    void setHolder(pid_t pid, const std::string& name);
    // True when another program held the monitor's interface at the read.
    bool busy() const;

    std::string deviceId() const;
    // "001:004" and "04b3:4676", or "" when unknown.
    std::string busDevice() const;
    std::string vendorProduct() const;

    // The detailed view: one "Title  value" line per attribute.
    std::string detailed(bool withReports) const;
    // The compact view: one line, like a USB device listing.
    std::string line() const;
    // The record's fields as numbers and texts, plus "usb" and, with
    // withReports, the raw reports in hex; not yet made UTF-8 safe.
    nlohmann::json json(bool withReports) const;

    // Why a monitor could not be read, in words.
    static std::string FailureText(const DisplayReport& report);
    // FailureText, with the holder of a busy monitor when known:
    // "in use by another program (pid 1234, kap_download)".
    std::string reasonText() const;
    // "bus 001 device 002 (04b3:4676): " and reasonText().
    std::string busyLine() const;
    // A mode "1024 x 768 @ 60Hz" (as the EDID decoder writes it) in the
    // form of the current mode, "1024x768 @ 60 Hz"; other texts unchanged.
    static std::string ModeText(const std::string& edidMode);
    static std::string CurrentModeText(const DisplayInformation& info);
    static const char* DisplayTechnologyText(uint16_t code);
    static const char* ScanModeText(uint16_t code);
    static const char* BacklightText(uint16_t state);

private:
    const DisplayInformation* info;
    const DisplayReport* usb;
    pid_t holderPid = 0;
    std::string holderName;
};

#endif
