// The monitors' state in the Prometheus text exposition format (version
// 0.0.4), for node_exporter's textfile collector: one reading of the bus
// becomes one file.
//
// Series: the collector's own (read success, duration, flash utility,
// monitors attached, busy and unreadable) and, for each monitor read, an
// info series (value 1) carrying its identity as labels and value series
// keyed by device_id alone. When the bus could not be read (a flash utility
// runs, no USB device list) only the collector's series are written: no
// value is carried over from an earlier run.
//
// Label values: the monitors' bytes are untrusted. A label holds the text
// exactly as pnlmon-inventory shows it on a terminal (ByteText::ForTerminal:
// a byte that is not printable UTF-8 as \xHH, a backslash as \\), then
// escaped as the format asks (backslash, double quote, line feed). So the
// file is always valid UTF-8 without any line break inside a label, and the
// value of device_id is what --id accepts.
#ifndef PNLMON_PROMETHEUSVIEW_H
#define PNLMON_PROMETHEUSVIEW_H

#include <string>

#include "display.h"

class PrometheusView {
public:
    // One reading of the bus: the driver's answer, its records and reports,
    // and how long it took.
    struct Reading {
        DISPLAY_CODE code = DSP_OK;
        DisplayInformationList records;
        display_report_list_t reports;
        double seconds = 0;
    };

    // Enumerates once through api and times it.
    static Reading Read(DisplayApi& api);

    // The exposition text of a reading; ends with a line feed.
    static std::string Format(const Reading& reading);

    // 1 for pnlmon_read_success: the bus was listed and every supported
    // monitor on it was read, except those another program holds.
    static bool Succeeded(const Reading& reading);

    // A monitor held by another program: the driver's busy state, or a
    // claim refused because the interface is in use.
    static bool IsBusy(const DisplayReport& report);

    // A label value as it appears between the double quotes.
    static std::string LabelValue(const std::string& bytes);
};

#endif
