// A pnlmon-sim scenario: the monitors of the emulated bus and a timeline of
// plugs and unplugs, read from a JSON file (format in
// src/usbemu/README.md).
#ifndef PNLMON_SIM_SCENARIO_H
#define PNLMON_SIM_SCENARIO_H

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "EmulatedBus.h"

struct ScenarioMonitor {
    usbemu::MonitorSpec spec;
    bool present = true;                 // plugged when the simulation starts
    std::optional<usbemu::Fault> fault;  // set whenever it is plugged
};

struct TimelineEvent {
    enum Kind { Plug, Unplug, Hold, Run };
    double at = 0;                       // seconds after the start
    Kind kind = Plug;
    std::string name;                    // the monitor (Plug, Unplug, Hold)
    double seconds = 0;                  // Hold: how long
    std::string as;                      // Hold: the holder's process name (empty: its own)
    std::vector<std::string> command;    // Run: the program and its arguments
};

class Scenario {
public:
    // Reads and checks a scenario; false with a reason naming the offending
    // entry. Paths inside are relative to the scenario's folder.
    bool load(const std::string& path, std::string& error);
    // The same from text, with relative paths taken from baseDir.
    bool parse(const std::string& text, const std::string& baseDir, std::string& error);

    const ScenarioMonitor* find(const std::string& name) const;
    const std::vector<ScenarioMonitor>& monitors() const { return monitorList; }
    const std::vector<TimelineEvent>& timeline() const { return events; }  // sorted by time

    // Empty when name suits a holder's process name, else what is wrong.
    static std::string CheckProcessName(const std::string& name);

private:
    TimelineEvent EventOf(const nlohmann::json& entry, const std::string& where) const;

    std::vector<ScenarioMonitor> monitorList;
    std::vector<TimelineEvent> events;
};

#endif
