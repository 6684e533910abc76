// A stand-in for libvexdisplay's DisplayApi in provider unit tests: the
// DisplayApi members are defined in ScriptedDriver.cpp and answer from this
// script, so tests choose initialisation results, answer codes, records and
// the arrivals and departures reported to the listener.
#pragma once

#include <vector>

#include "display.h"

struct ScriptedDriver {
    DISPLAY_CODE initResult = DSP_OK;
    bool initThrows = false;  // initialiseDisplayDriver throws std::bad_alloc
    DISPLAY_CODE listResult = DSP_OK;
    std::vector<DisplayInformation> records;
    // Reported to the registered listener during the next enumeration only.
    std::vector<DisplayInformation> created;
    std::vector<DisplayInformation> deleted;

    // "AnnounceChanges=immediate"; the watcher's answer to start, and the
    // listener it was started with (tests call it to stand for a hotplug).
    bool announceImmediately = false;
    DISPLAY_CODE watchResult = DSP_OK;
    IDisplayChangeListener* changeListener = nullptr;
    int watchStarts = 0;
    int watchStops = 0;

    IDisplayListener* listener = nullptr;
    int constructed = 0;
    int destroyed = 0;
    int enumerations = 0;
    int setListenerCalls = 0;
    int clearListenerCalls = 0;

    static ScriptedDriver& instance();
    void reset() { *this = ScriptedDriver(); }
};

// A record as a monitor of this machine type, model and serial would give.
DisplayInformation MakeRecord(const std::string& machine, const std::string& model,
                              const std::string& serial);
