// The provider's baseline: which monitors count as already there when
// watching starts.
//
// The driver reports every monitor of a DisplayApi's first enumeration as
// arrived. CIM object managers store subscriptions and restore them when
// they start: they load the provider, activate the filters and enable
// indications, with no instance request. Left alone, the first enumeration
// after that (an announcer refresh or the first request) would announce a
// creation for every monitor that stayed attached across the restart.
//
// So when watching starts (the listener is registered at the first
// subscription, or the announcer starts) and this provider has not listed
// the bus since it was built, it enumerates once and takes what it finds as
// it is, without indications. A monitor pulled while nothing watched is
// then simply absent: the provider holds no record of it and announces
// nothing. When the bus cannot be listed at that moment (a flash utility
// runs, the device list cannot be obtained), the first enumeration that
// lists it later is the baseline instead, and its arrivals are not
// announced either.
#include "DisplayProvider.h"

#include "log.h"

namespace {

// Whether an enumeration with this answer listed the bus. The driver's
// change detection moves on only with these.
bool ListedTheBus(DISPLAY_CODE code)
{
    return code == DSP_OK || code == DSP_NO_DEVICES;
}

const char* WhyNotListed(DISPLAY_CODE code)
{
    switch (code) {
    case DSP_FLASH_IN_PROGRESS:
        return "a flash utility runs";
    case DSP_ENUM_FAILED:
        return "the USB device list could not be obtained";
    default:
        return "the driver could not list the bus";
    }
}

}  // namespace

void DisplayProvider::takeBaseline(const char* moment)
{
    if (enumerated || displayApi == nullptr) {
        return;
    }
    bool deferred = awaitingBaseline;
    awaitingBaseline = true;
    updateDisplays();
    if (awaitingBaseline && !deferred) {
        Log(LEVEL_INFO,
            "DisplayProvider - baseline not taken at %s: %s (dspcode=0x%x) - the monitors found by the "
            "first enumeration that lists the bus are taken as they are, without indications",
            moment, WhyNotListed(lastRefresh), static_cast<unsigned>(lastRefresh));
    }
}

void DisplayProvider::noteEnumeration(DISPLAY_CODE code)
{
    if (!ListedTheBus(code)) {
        return;
    }
    enumerated = true;
    if (!awaitingBaseline) {
        return;
    }
    awaitingBaseline = false;
    Log(LEVEL_INFO, "DisplayProvider - baseline taken: %i monitor(s) attached, not announced",
        qavDisplays.getNumDisplays());
}
