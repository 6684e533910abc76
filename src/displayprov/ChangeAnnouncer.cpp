#include "ChangeAnnouncer.h"

#include <pthread.h>

#include <algorithm>

#include "log.h"

constexpr std::chrono::milliseconds ChangeAnnouncer::kSettleDelay;
constexpr std::chrono::milliseconds ChangeAnnouncer::kLongestWait;
constexpr std::chrono::milliseconds ChangeAnnouncer::kFlashRetry;

namespace {
// How long the refresh thread waits between attempts at the library lock
// while a request holds it.
const std::chrono::milliseconds kLockPause{5};
}  // namespace

ChangeAnnouncer::ChangeAnnouncer(const CMPIBroker* broker, Refresh refresh)
    : broker(broker),
      refresh(refresh),
      context(nullptr),
      active(false),
      joinable(false),
      thread(nullptr),
      stopRequested(false),
      pending(false),
      threadRunning(false)
{
}

ChangeAnnouncer::~ChangeAnnouncer()
{
    stop();
}

bool ChangeAnnouncer::start(const CMPIContext* indicationContext)
{
    if (active) {
        return true;
    }
    const CMPIBrokerExtFT* xft = broker != nullptr ? broker->xft : nullptr;
    if (indicationContext == nullptr || xft == nullptr || xft->newThread == nullptr) {
        LogQuick(LEVEL_ERROR, "ChangeAnnouncer::start - no indication context or no broker threads - "
                              "changes are announced at the next request");
        return false;
    }
    context = indicationContext;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopRequested = false;
        pending = false;
        threadRunning = true;
    }
    // Joined where the broker can join; otherwise detached, and stop waits
    // for the thread's last step instead.
    joinable = xft->joinThread != nullptr;
    thread = xft->newThread(threadMain, this, joinable ? 0 : 1);
    if (thread == nullptr) {
        std::lock_guard<std::mutex> guard(lock);
        threadRunning = false;
        LogQuick(LEVEL_ERROR, "ChangeAnnouncer::start - newThread failed - changes are announced at the next request");
        return false;
    }
    DISPLAY_CODE code = watcher.start(this);
    if (code != DSP_OK) {
        Log(LEVEL_ERROR, "ChangeAnnouncer::start - cannot watch the bus, dspcode=0x%x - changes are announced at the "
                         "next request",
            static_cast<unsigned>(code));
        active = true;  // so that stop ends the thread
        stop();
        return false;
    }
    active = true;
    Log(LEVEL_DEBUG, "ChangeAnnouncer::start - changes are announced as they happen (settle delay %lld ms)",
        static_cast<long long>(kSettleDelay.count()));
    return true;
}

void ChangeAnnouncer::stop()
{
    if (!active) {
        return;
    }
    // No further change can arrive once the watcher's thread is joined.
    watcher.stop();
    {
        std::unique_lock<std::mutex> guard(lock);
        stopRequested = true;
        wake.notify_all();
        wake.wait(guard, [this] { return !threadRunning; });
    }
    if (joinable && thread != nullptr && broker->xft->joinThread != nullptr) {
        broker->xft->joinThread(thread, nullptr);
    }
    thread = nullptr;
    active = false;
    LogQuick(LEVEL_DEBUG, "ChangeAnnouncer::stop - changes are announced at requests");
}

bool ChangeAnnouncer::pauseForLock()
{
    std::unique_lock<std::mutex> guard(lock);
    wake.wait_for(guard, kLockPause, [this] { return stopRequested.load(); });
    return !stopRequested;
}

void ChangeAnnouncer::retryLaterLocked()
{
    if (!pending) {
        pending = true;
        firstChange = std::chrono::steady_clock::now();
        due = firstChange + kFlashRetry;
    }
}

void ChangeAnnouncer::refreshSoon()
{
    std::lock_guard<std::mutex> guard(lock);
    retryLaterLocked();
    wake.notify_all();
}

void ChangeAnnouncer::DisplaysMayHaveChanged(bool arrived)
{
    std::lock_guard<std::mutex> guard(lock);
    auto now = std::chrono::steady_clock::now();
    if (!pending) {
        pending = true;
        firstChange = now;
    }
    due = std::min(now + kSettleDelay, firstChange + kLongestWait);
    Log(LEVEL_DEBUG, "ChangeAnnouncer::DisplaysMayHaveChanged - a monitor %s", arrived ? "arrived" : "left");
    wake.notify_all();
}

bool ChangeAnnouncer::waitForChange()
{
    std::unique_lock<std::mutex> guard(lock);
    wake.wait(guard, [this] { return pending || stopRequested; });
    while (!stopRequested) {
        if (std::chrono::steady_clock::now() >= due) {
            // Changes from here on are seen by this refresh or call for the next.
            pending = false;
            return true;
        }
        wake.wait_until(guard, due);
    }
    return false;
}

CMPI_THREAD_RETURN CMPI_THREAD_CDECL ChangeAnnouncer::threadMain(void* self)
{
    static_cast<ChangeAnnouncer*>(self)->run();
    return 0;
}

void ChangeAnnouncer::run()
{
    pthread_setname_np(pthread_self(), "pnlmon-announce");
    LogQuick(LEVEL_DEBUG, "ChangeAnnouncer::run - waiting for changes");
    const CMPIBrokerFT* bft = broker->bft;
    CMPIContext* attached = nullptr;
    CMPIStatus status;
    status.rc = CMPI_RC_ERR_FAILED;
    status.msg = nullptr;
    if (bft != nullptr && bft->prepareAttachThread != nullptr && bft->attachThread != nullptr) {
        attached = bft->prepareAttachThread(broker, context);
        if (attached != nullptr) {
            status = bft->attachThread(broker, attached);
        }
    }
    if (status.rc != CMPI_RC_OK) {
        Log(LEVEL_ERROR, "ChangeAnnouncer::run - CMAttachThread: CMPIStatus %i - changes are announced at the next "
                         "request",
            static_cast<int>(status.rc));
        if (attached != nullptr && attached->ft != nullptr && attached->ft->release != nullptr) {
            attached->ft->release(attached);
        }
        attached = nullptr;
    } else {
        while (waitForChange()) {
            LogQuick(LEVEL_DEBUG, "ChangeAnnouncer::run - the bus changed - refreshing");
            Outcome outcome = Outcome::Stopped;
            try {
                outcome = refresh(*this);
            } catch (...) {
                LogQuick(LEVEL_ERROR, "ChangeAnnouncer::run - Unknown Exception");
            }
            if (outcome == Outcome::FlashActive) {
                Log(LEVEL_DEBUG, "ChangeAnnouncer::run - flash utility running - trying again in %lld ms",
                    static_cast<long long>(kFlashRetry.count()));
                std::lock_guard<std::mutex> guard(lock);
                retryLaterLocked();
            }
        }
        if (bft->detachThread != nullptr) {
            bft->detachThread(broker, attached);
        }
    }
    LogQuick(LEVEL_DEBUG, "ChangeAnnouncer::run - exit");
    // The last step in this library's code: stop may return (and the
    // library go) once this is seen.
    std::lock_guard<std::mutex> guard(lock);
    threadRunning = false;
    wake.notify_all();
}
