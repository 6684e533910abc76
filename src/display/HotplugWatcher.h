// The driver's side of DisplayChangeWatcher: a thread that sleeps in the USB
// library's event handling on a context of its own, with a hotplug
// registration for every supported vendor/product pair, and tells the
// listener of each arrival or departure. It never opens a device.
#ifndef PNLMON_HOTPLUGWATCHER_H
#define PNLMON_HOTPLUGWATCHER_H

#include <libusb.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "HidIo.h"
#include "display.h"

class HotplugWatcher {
public:
    HotplugWatcher();
    ~HotplugWatcher();
    HotplugWatcher(const HotplugWatcher&) = delete;
    HotplugWatcher& operator=(const HotplugWatcher&) = delete;

    DISPLAY_CODE start(IDisplayChangeListener* listener);
    void stop();
    bool isWatching() const;

private:
    static void onEvent(void* user, bool arrived);
    void run();

    // Serialises start and stop.
    mutable std::mutex control;
    std::thread thread;
    std::atomic<bool> stopping;
    libusb_context* watch;
    IDisplayChangeListener* listener;
    HidIo::HotplugTarget target;
};

#endif
