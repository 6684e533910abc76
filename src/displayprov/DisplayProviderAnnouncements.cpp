// The provider's side of announcing changes as they happen: whether the
// announcer runs follows the listener registration and the enable flag.
#include "DisplayProvider.h"

#include <new>

#include "log.h"

void DisplayProvider::createAnnouncer()
{
    if (displayApi == nullptr || !displayApi->announceChangesImmediately()) {
        return;
    }
    announcer = new (std::nothrow) ChangeAnnouncer(broker, RefreshUnderLibraryLock);
    if (announcer == nullptr) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::createAnnouncer - allocation failed - changes are announced at the "
                              "next request");
    }
}

void DisplayProvider::updateAnnouncements()
{
    if (announcer == nullptr) {
        return;
    }
    bool wanted = listening && indicationsEnabled;
    if (wanted && !announcer->isActive()) {
        takeBaseline("the announcer's start");
        if (announcer->start(indCtx) && awaitingBaseline) {
            // The bus could not be listed just now: the announcer tries
            // again, so that the baseline is taken soon after the flash
            // utility ends rather than at the next change.
            announcer->refreshSoon();
        }
    } else if (!wanted && announcer->isActive()) {
        announcer->stop();
    }
}

void DisplayProvider::stopAnnouncements()
{
    if (announcer != nullptr) {
        announcer->stop();
    }
}

bool DisplayProvider::announcing() const
{
    return announcer != nullptr && announcer->isActive();
}

DISPLAY_CODE DisplayProvider::refreshForAnnouncement()
{
    updateDisplays();
    return lastRefresh;
}
