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
        announcer->start(indCtx);
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
