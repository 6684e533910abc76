#include "HotplugWatcher.h"

#include <pthread.h>

#include "SupportedHidDisplays.h"
#include "log.h"

namespace {
// The "cannot watch" line is written once per process, not at every start.
std::atomic<bool> incapableLogged{false};
}  // namespace

HotplugWatcher::HotplugWatcher() : stopping(false), watch(nullptr), listener(nullptr), target{onEvent, this}
{
}

HotplugWatcher::~HotplugWatcher()
{
    stop();
}

DISPLAY_CODE HotplugWatcher::start(IDisplayChangeListener* newListener)
{
    std::lock_guard<std::mutex> guard(control);
    if (newListener == nullptr) {
        return DSP_BAD_ID;
    }
    if (thread.joinable()) {
        return DSP_OK;
    }
    if (!HidIo::hotplugCapable()) {
        if (!incapableLogged.exchange(true)) {
            LogQuick(LEVEL_ERROR,
                     "HotplugWatcher::start - the USB library cannot report arrivals and departures here - "
                     "changes are seen at the next request");
        }
        return DSP_NOT_IMPL;
    }
    if (HidIo::hotplugOpen(&watch) != 0) {
        return DSP_INTERNAL_ERROR;
    }
    SupportedHidDisplays supported;
    for (const SupportedHidDisplay& row : supported.rows()) {
        if (HidIo::hotplugRegister(watch, row.vid, row.pid, &target) != 0) {
            HidIo::hotplugClose(watch);
            watch = nullptr;
            return DSP_INTERNAL_ERROR;
        }
    }
    listener = newListener;
    stopping = false;
    try {
        // A lambda keeps the thread state type local to the library: a member
        // pointer would export its typeinfo and vtable as weak symbols.
        thread = std::thread([this] { run(); });
    } catch (...) {
        LogQuick(LEVEL_ERROR, "HotplugWatcher::start - cannot start the watching thread");
        HidIo::hotplugClose(watch);
        watch = nullptr;
        listener = nullptr;
        return DSP_INTERNAL_ERROR;
    }
    LogQuick(LEVEL_DEBUG, "HotplugWatcher::start - watching for monitor arrivals and departures");
    return DSP_OK;
}

void HotplugWatcher::stop()
{
    std::lock_guard<std::mutex> guard(control);
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        // From inside the listener: the thread cannot join itself.
        LogQuick(LEVEL_ERROR, "HotplugWatcher::stop - called from the watching thread, ignored");
        return;
    }
    stopping = true;
    HidIo::hotplugInterrupt(watch);
    thread.join();
    // libusb 1.0.26 can lose the devices of arrivals still queued at its
    // exit: take them in first (the listener is no longer told).
    HidIo::hotplugDrain(watch);
    HidIo::hotplugClose(watch);
    watch = nullptr;
    listener = nullptr;
    LogQuick(LEVEL_DEBUG, "HotplugWatcher::stop - stopped watching");
}

bool HotplugWatcher::isWatching() const
{
    std::lock_guard<std::mutex> guard(control);
    return thread.joinable();
}

void HotplugWatcher::onEvent(void* user, bool arrived)
{
    HotplugWatcher* self = static_cast<HotplugWatcher*>(user);
    if (self->stopping) {
        return;
    }
    Log(LEVEL_DEBUG, "HotplugWatcher::onEvent - a supported monitor %s", arrived ? "arrived" : "left");
    try {
        self->listener->DisplaysMayHaveChanged(arrived);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "HotplugWatcher::onEvent - the listener failed");
    }
}

void HotplugWatcher::run()
{
    // Named for top -H and ps -L (and the idle-CPU benchmark).
    pthread_setname_np(pthread_self(), "pnlmon-hotplug");
    while (!stopping) {
        int result = HidIo::hotplugWait(watch);
        if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED) {
            Log(LEVEL_ERROR, "HotplugWatcher::run - event handling failed, error=%d - watching ends", result);
            break;
        }
    }
}
