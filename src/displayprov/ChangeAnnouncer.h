// Announces monitor arrivals and departures as they happen
// ("AnnounceChanges=immediate"). The driver's DisplayChangeWatcher tells it
// that the bus changed; after a settle delay that lets a burst of changes
// (several monitors on one hub, a connector wiggled in and out) end, a
// refresh thread of the CIM object manager (the broker's newThread, attached
// with the prepared indication context) runs the refresh an instance request
// runs, under the library lock. The driver's change detection then reports
// the arrivals and departures, and the indications go out as for a request.
//
// While a flash utility runs the refresh touches no monitor; it is tried
// again every kFlashRetry until the utility has ended, and the change is
// then announced.
//
// start, stop and isActive are called with the library lock held. The
// refresh thread never blocks on that lock, so stop can wait for the thread
// with the lock held.
#ifndef PNLMON_CHANGEANNOUNCER_H
#define PNLMON_CHANGEANNOUNCER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cmpidt.h"
#include "cmpift.h"
#include "display.h"

class ChangeAnnouncer : public IDisplayChangeListener {
public:
    // After the last change of a burst, this long without a further change
    // before the refresh runs ...
    static constexpr std::chrono::milliseconds kSettleDelay{250};
    // ... but never later than this after the burst's first change.
    static constexpr std::chrono::milliseconds kLongestWait{1000};
    // While a flash utility runs, the refresh is tried again this often.
    static constexpr std::chrono::milliseconds kFlashRetry{1000};

    enum class Outcome { Done, FlashActive, Stopped };
    // Runs the refresh under the library lock; given the announcer so that
    // it can wait for the lock without blocking a stop. Defined with the
    // library lock, in ProviderEntryPoints.cpp.
    typedef Outcome (*Refresh)(ChangeAnnouncer& announcer);

    ChangeAnnouncer(const CMPIBroker* broker, Refresh refresh);
    ~ChangeAnnouncer() override;
    ChangeAnnouncer(const ChangeAnnouncer&) = delete;
    ChangeAnnouncer& operator=(const ChangeAnnouncer&) = delete;

    // Starts the refresh thread and the driver's watcher. False (logged)
    // when either cannot start; changes are then announced at requests.
    bool start(const CMPIContext* indicationContext);
    // Stops the watcher, then the refresh thread, and waits until the
    // thread has left this library's code.
    void stop();
    bool isActive() const { return active; }

    // For the refresh function: true once a stop is under way.
    bool stopping() const { return stopRequested; }
    // For the refresh function while the library lock is taken by someone
    // else: waits a moment; false when a stop is under way.
    bool pauseForLock();

    // Asks for a refresh after kFlashRetry though the bus did not change:
    // for a baseline that could not be taken when announcing started.
    void refreshSoon();

    // IDisplayChangeListener: on the driver's watching thread.
    void DisplaysMayHaveChanged(bool arrived) override;

    // The thread body (a C entry point for the broker).
    static CMPI_THREAD_RETURN CMPI_THREAD_CDECL threadMain(void* self);

private:
    void run();
    // Waits until a change has settled; false when stopping.
    bool waitForChange();
    // With lock held: a refresh kFlashRetry from now, unless one is pending.
    void retryLaterLocked();

    const CMPIBroker* broker;
    Refresh refresh;
    const CMPIContext* context;
    DisplayChangeWatcher watcher;
    bool active;                        // under the library lock
    bool joinable;                      // the thread was made joinable
    CMPI_THREAD_TYPE thread;

    std::mutex lock;                    // everything below
    std::condition_variable wake;
    std::atomic<bool> stopRequested;
    bool pending;
    std::chrono::steady_clock::time_point firstChange;   // of the pending burst
    std::chrono::steady_clock::time_point due;           // when its refresh runs
    bool threadRunning;
};

// The announcer's refresh: the provider's refresh under the library lock
// drv_synch (ProviderEntryPoints.cpp).
ChangeAnnouncer::Outcome RefreshUnderLibraryLock(ChangeAnnouncer& announcer);

#endif
