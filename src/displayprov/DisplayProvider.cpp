// The provider object's lifecycle and its display cache refresh. The
// instance operations and the indications are in their own files.
#include "DisplayProvider.h"

#include <cstring>
#include <ctime>
#include <string>

#include "ProviderSupport.h"
#include "log.h"

namespace displayprov {
const char PnlmonlVersion[] = "PNLMON Version 3.1.000";

// "Built " and the build time as "Tue Apr  8 16:16:25 2014".
const char* BuildDate()
{
    static const std::string text = [] {
        struct tm when;
        std::memset(&when, 0, sizeof(when));
        std::string stamp = std::string(__DATE__) + " " + __TIME__;
        char out[64];
        if (strptime(stamp.c_str(), "%b %d %Y %H:%M:%S", &when) == nullptr) {
            return std::string("Built ") + stamp;
        }
        when.tm_isdst = -1;
        mktime(&when);
        strftime(out, sizeof(out), "%a %b %e %H:%M:%S %Y", &when);
        return std::string("Built ") + out;
    }();
    return text.c_str();
}
}  // namespace displayprov

DisplayProvider::DisplayProvider()
    : initialised(false),
      activeIndSubscriptions(0),
      indicationsEnabled(false),
      indCtx(nullptr),
      broker(nullptr),
      displayApi(nullptr),
      listening(false),
      lastRefresh(DSP_OK),
      announcer(nullptr),
      enumerated(false),
      awaitingBaseline(false)
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider constructed");
}

DisplayProvider::~DisplayProvider()
{
    Log(LEVEL_DEBUG, "DisplayProvider destructor - display=0x%p", static_cast<void*>(displayApi));
    // Its threads end before the driver goes.
    delete announcer;
    announcer = nullptr;
    if (displayApi != nullptr) {
        LogQuick(LEVEL_DEBUG, "deleting DisplayApi object");
        delete displayApi;
        displayApi = nullptr;
    }
    LogQuick(LEVEL_INFO, "DisplayProvider - provider destroyed");
}

void DisplayProvider::initialise(const CMPIContext*)
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider::initialise");
    try {
        displayApi = new DisplayApi();
    } catch (...) {
        displayApi = nullptr;
    }
    if (displayApi == nullptr) {
        LogQuick(LEVEL_DEBUG, "failed to construct DisplayApi object");
        return;
    }
    DISPLAY_CODE code = displayApi->initialiseDisplayDriver();
    if (code != DSP_OK) {
        Log(LEVEL_ERROR,
            "DisplayProvider::initialize - Initialise Service Driver failed - dspcode=0x%08x",
            static_cast<unsigned>(code));
        return;
    }
    initialised = true;
    Log(LEVEL_INFO, "DisplayProvider %s created and initialised", displayprov::PnlmonlVersion);
    createAnnouncer();
}

// ---------------------------------------------------------------------------
// DisplayProvider: display cache refresh
// ---------------------------------------------------------------------------

void DisplayProvider::updateDisplays()
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider::UpdateDisplays");
    if (!qavDisplays.needsUpdate()) {
        return;
    }
    qavDisplays.clear();
    if (displayApi == nullptr) {
        return;
    }
    DisplayInformationList records;
    DISPLAY_CODE code = displayApi->getDisplayInformationList(records);
    lastRefresh = code;
    switch (code) {
    case DSP_OK:
        qavDisplays.buildDisplayList(records);
        break;
    case DSP_NO_DEVICES:
        LogQuick(LEVEL_TRACE,
                 "DisplayProvider::updateDisplays - No devices found - perhaps none are plugged in");
        break;
    case DSP_ENUMERATION_IN_PROGRESS:
        LogQuick(LEVEL_TRACE,
                 "DisplayProvider::updateDisplays - Enumeration in progress - connected devices unknown");
        break;
    default:
        Log(LEVEL_ERROR, "DisplayProvider::updateDisplays - failed, dspcode=0x%x",
            static_cast<unsigned>(code));
        break;
    }
    noteEnumeration(code);
}
