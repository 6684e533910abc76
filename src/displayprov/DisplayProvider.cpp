// The provider object and the library's CMPI entry points: MI factories,
// MI function tables, the drv... wrappers, cleanup by use count and the
// library lock drv_synch.
#include "DisplayProvider.h"

#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "Cmpi.h"
#include "CmpiException.h"
#include "IndicateArgs.h"
#include "log.h"

namespace {

const char kNameSpace[] = "root/cimv2";

}  // namespace

// The provider's own identification texts, distinct from the driver's
// exported objects of the same names.
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

namespace {

CMPIStatus Status(CMPIrc rc)
{
    CMPIStatus status;
    status.rc = rc;
    status.msg = nullptr;
    return status;
}

const char* Text(const char* text)
{
    return text != nullptr ? text : "";
}

void ReturnDone(const CMPIResult* result)
{
    if (result != nullptr && result->ft != nullptr && result->ft->returnDone != nullptr) {
        result->ft->returnDone(result);
    }
}

bool UsableResult(const CMPIResult* result)
{
    return result != nullptr && result->ft != nullptr;
}

// enableIndications and disableIndications return nothing in 1.0 header
// sets and a CMPIStatus in 2.x sets (a CIMOM's own headers may be used);
// the entries follow whichever the table declares.
using IndicationControlResult =
    decltype(std::declval<CMPIIndicationMIFT&>().enableIndications(nullptr, nullptr));

template <typename Result>
Result ControlDone()
{
    if constexpr (!std::is_void_v<Result>) {
        return Status(CMPI_RC_OK);
    }
}

void ReturnPath(const CMPIResult* result, const CMPIObjectPath* path)
{
    if (result->ft->returnObjectPath == nullptr) {
        Cmpi::Raise(CMPI_RC_ERR_FAILED);
    }
    result->ft->returnObjectPath(result, path);
}

void ReturnInstance(const CMPIResult* result, const CMPIInstance* instance)
{
    if (result->ft->returnInstance == nullptr) {
        Cmpi::Raise(CMPI_RC_ERR_FAILED);
    }
    result->ft->returnInstance(result, instance);
}

}  // namespace

// ---------------------------------------------------------------------------
// Library-wide state
// ---------------------------------------------------------------------------

static DisplayProvider* provider = nullptr;
static int32_t use_count = 0;
static pthread_mutex_t drv_synch;

static void __incrUseCount() { ++use_count; }
static void __decrUseCount() { --use_count; }
static void __drv_synch() { pthread_mutex_lock(&drv_synch); }
static void __drv_unsynch() { pthread_mutex_unlock(&drv_synch); }

namespace {
// Holds drv_synch for a scope, so that an exception cannot leave it locked.
class DrvLock {
public:
    DrvLock() { __drv_synch(); }
    ~DrvLock() { __drv_unsynch(); }
    DrvLock(const DrvLock&) = delete;
    DrvLock& operator=(const DrvLock&) = delete;
};
}

__attribute__((constructor)) static void CONSTRUCTOR()
{
    fprintf(stderr, "CONSTRUCTOR\n");
    pthread_mutex_init(&drv_synch, nullptr);
}

__attribute__((destructor)) static void DESTRUCTOR()
{
    fprintf(stderr, "DESTRUCTOR\n");
    pthread_mutex_destroy(&drv_synch);
}

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

extern "C" {
static CMPIStatus drvInstanceCleanup(CMPIInstanceMI* mi, const CMPIContext* context,
                                     CMPIBoolean terminating);
static CMPIStatus drvEnumInstanceNames(CMPIInstanceMI* mi, const CMPIContext* context,
                                       const CMPIResult* result, const CMPIObjectPath* reference);
static CMPIStatus drvEnumInstances(CMPIInstanceMI* mi, const CMPIContext* context,
                                   const CMPIResult* result, const CMPIObjectPath* reference,
                                   const char** properties);
static CMPIStatus drvGetInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                                 const CMPIResult* result, const CMPIObjectPath* path,
                                 const char** properties);
static CMPIStatus drvCreateInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                                    const CMPIResult* result, const CMPIObjectPath* path,
                                    const CMPIInstance* instance);
static CMPIStatus drvModifyInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                                    const CMPIResult* result, const CMPIObjectPath* path,
                                    const CMPIInstance* instance, const char** properties);
static CMPIStatus drvDeleteInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                                    const CMPIResult* result, const CMPIObjectPath* path);
static CMPIStatus drvExecQuery(CMPIInstanceMI* mi, const CMPIContext* context,
                               const CMPIResult* result, const CMPIObjectPath* path,
                               const char* query, const char* language);

static CMPIStatus drvIndicationCleanup(CMPIIndicationMI* mi, const CMPIContext* context,
                                       CMPIBoolean terminating);
static CMPIStatus drvAuthorizeFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                     const CMPISelectExp* filter, const char* className,
                                     const CMPIObjectPath* classPath, const char* owner);
static CMPIStatus drvMustPoll(CMPIIndicationMI* mi, const CMPIContext* context,
                              const CMPISelectExp* filter, const char* className,
                              const CMPIObjectPath* classPath);
static CMPIStatus drvActivateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                    const CMPISelectExp* filter, const char* className,
                                    const CMPIObjectPath* classPath, CMPIBoolean firstActivation);
static CMPIStatus drvDeActivateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                      const CMPISelectExp* filter, const char* className,
                                      const CMPIObjectPath* classPath, CMPIBoolean lastActivation);
static IndicationControlResult drvEnableIndications(CMPIIndicationMI* mi,
                                                           const CMPIContext* context);
static IndicationControlResult drvDisableIndications(CMPIIndicationMI* mi,
                                                            const CMPIContext* context);

static CMPI_THREAD_RETURN CMPI_THREAD_CDECL indicateThread(void* parameter);
}

static CMPIInstanceMIFT instMIFT__ = {
    100,
    100,
    "instanceDisplayProvider",
    drvInstanceCleanup,
    drvEnumInstanceNames,
    drvEnumInstances,
    drvGetInstance,
    drvCreateInstance,
    drvModifyInstance,
    drvDeleteInstance,
    drvExecQuery,
};

static CMPIIndicationMIFT indMIFT__ = {
    100,
    100,
    "indicationDisplayProvider",
    drvIndicationCleanup,
    drvAuthorizeFilter,
    drvMustPoll,
    drvActivateFilter,
    drvDeActivateFilter,
    drvEnableIndications,
    drvDisableIndications,
};

static CMPIInstanceMI instanceMI = {nullptr, &instMIFT__};
static CMPIIndicationMI indicationMI = {nullptr, &indMIFT__};

// Runs the part of a factory that needs drv_synch. Creates the provider on
// the first call; the MI handle of the creating factory points to it.
static void CreateUnderLock(const char* factory, bool instanceFactory, void** handle,
                            const CMPIBroker* broker, const CMPIContext* context)
{
    if (instanceFactory) {
        Log(LEVEL_INFO, "Vostran Monitor Inventory Drivers for Linux %s, %s", displayprov::PnlmonlVersion,
            displayprov::BuildDate());
    }
    int version = (broker != nullptr && broker->eft != nullptr) ? broker->eft->ftVersion : 0;
    fprintf(stderr, "%s, broker=%p, version=%i, pid=%i\n", factory,
            static_cast<const void*>(broker), version, static_cast<int>(getpid()));
    Log(LEVEL_DEBUG, "%s, broker=%p, version=%i, pid=%i", factory,
        static_cast<const void*>(broker), version, static_cast<int>(getpid()));
    if (provider == nullptr) {
        DisplayProvider* created = nullptr;
        try {
            created = new DisplayProvider();
        } catch (...) {
            created = nullptr;
        }
        if (created == nullptr) {
            Log(LEVEL_ERROR, "%s - Provider malloc failed", factory);
        } else {
            provider = created;
            provider->setBroker(broker);
            *handle = provider;
            provider->initialise(context);
        }
    }
    __incrUseCount();
}

extern "C" PNLMON_EXPORT CMPIInstanceMI* DisplayProvider_Create_InstanceMI(
    const CMPIBroker* broker, const CMPIContext* context, CMPIStatus* rc)
{
    try {
        DrvLock lock;
        CreateUnderLock("DisplayProvider_Create_InstanceMI", true, &instanceMI.hdl, broker,
                        context);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider_Create_InstanceMI - Unknown Exception");
    }
    if (rc != nullptr) {
        *rc = Status(CMPI_RC_OK);
    }
    return &instanceMI;
}

extern "C" PNLMON_EXPORT CMPIIndicationMI* DisplayProvider_Create_IndicationMI(
    const CMPIBroker* broker, const CMPIContext* context, CMPIStatus* rc)
{
    try {
        DrvLock lock;
        CreateUnderLock("DisplayProvider_Create_IndicationMI", false, &indicationMI.hdl, broker,
                        context);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider_Create_IndicationMI - Unknown Exception");
    }
    if (rc != nullptr) {
        *rc = Status(CMPI_RC_OK);
    }
    return &indicationMI;
}

// Drops one use; at zero the provider is destroyed. Caller holds drv_synch.
static void __drv_cleanup()
{
    Log(LEVEL_DEBUG, "__drv_cleanup - provider=%p, use_count before decrement=%i",
        static_cast<void*>(provider), use_count);
    __decrUseCount();
    Log(LEVEL_DEBUG, "__drv_cleanup - use_count after decrement=%i", use_count);
    if (use_count > 0) {
        return;
    }
    Log(LEVEL_DEBUG, "__drv_cleanup - deleting provider=%p", static_cast<void*>(provider));
    if (provider != nullptr) {
        delete provider;
        provider = nullptr;
        // Nothing reads the handles, but they must not keep pointing at the
        // deleted object.
        instanceMI.hdl = nullptr;
        indicationMI.hdl = nullptr;
    }
}

static CMPIStatus drvInstanceCleanup(CMPIInstanceMI*, const CMPIContext*, CMPIBoolean terminating)
{
    try {
        DrvLock lock;
        Log(LEVEL_DEBUG, "drvInstanceCleanup - provider=%p, terminating=%x",
            static_cast<void*>(provider), terminating ? 1u : 0u);
        if (provider != nullptr) {
            __drv_cleanup();
        }
    } catch (...) {
        LogQuick(LEVEL_ERROR, "drvInstanceCleanup - Unknown Exception");
    }
    return Status(CMPI_RC_OK);
}

static CMPIStatus drvIndicationCleanup(CMPIIndicationMI*, const CMPIContext*,
                                       CMPIBoolean terminating)
{
    if (!terminating) {
        return Status(CMPI_RC_DO_NOT_UNLOAD);
    }
    try {
        DrvLock lock;
        Log(LEVEL_DEBUG, "drvIndicationCleanup - provider=%p, terminating=%x",
            static_cast<void*>(provider), 1u);
        if (provider != nullptr) {
            provider->indicationCleanup();
            __drv_cleanup();
        }
    } catch (...) {
        LogQuick(LEVEL_ERROR, "drvIndicationCleanup - Unknown Exception");
    }
    return Status(CMPI_RC_OK);
}

// The common frame of the wrapped entries: under drv_synch, log the entry
// line and call the provider if it exists and its driver is initialised.
// The provider pointer and its flag are read under the lock, because
// factories and cleanups change them on other CIMOM threads.
template <typename Call>
static CMPIStatus Wrapped(const char* entry, Call call)
{
    try {
        DrvLock lock;
        Log(LEVEL_DEBUG, "%s - provider=%p", entry, static_cast<void*>(provider));
        if (provider == nullptr || !provider->isInitialised()) {
            return Status(CMPI_RC_ERR_METHOD_NOT_AVAILABLE);
        }
        return call(provider);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider - Unknown Exception at entry point");
        return Status(CMPI_RC_ERR_FAILED);
    }
}

static CMPIStatus drvEnumInstanceNames(CMPIInstanceMI* mi, const CMPIContext* context,
                                       const CMPIResult* result, const CMPIObjectPath* reference)
{
    return Wrapped("drvEnumInstanceNames", [&](DisplayProvider* p) {
        return p->enumInstanceNames(mi, context, result, reference);
    });
}

static CMPIStatus drvEnumInstances(CMPIInstanceMI* mi, const CMPIContext* context,
                                   const CMPIResult* result, const CMPIObjectPath* reference,
                                   const char** properties)
{
    return Wrapped("drvEnumInstances", [&](DisplayProvider* p) {
        return p->enumInstances(mi, context, result, reference, properties);
    });
}

static CMPIStatus drvGetInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                                 const CMPIResult* result, const CMPIObjectPath* path,
                                 const char** properties)
{
    return Wrapped("drvGetInstance", [&](DisplayProvider* p) {
        return p->getInstance(mi, context, result, path, properties);
    });
}

static CMPIStatus Unsupported(const char* line)
{
    puts(line);
    fflush(stdout);
    return Status(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus drvCreateInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*,
                                    const CMPIObjectPath*, const CMPIInstance*)
{
    return Unsupported("drvCreateInstance - Unsupported");
}

static CMPIStatus drvModifyInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*,
                                    const CMPIObjectPath*, const CMPIInstance*, const char**)
{
    return Unsupported("drvModifyInstance - Unsupported");
}

static CMPIStatus drvDeleteInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*,
                                    const CMPIObjectPath*)
{
    return Unsupported("drvDeleteInstance - Unsupported");
}

static CMPIStatus drvExecQuery(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*,
                               const CMPIObjectPath*, const char*, const char*)
{
    return Unsupported("drvExecQuery - Unsupported");
}

static CMPIStatus drvAuthorizeFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                     const CMPISelectExp* filter, const char* className,
                                     const CMPIObjectPath* classPath, const char* owner)
{
    return Wrapped("drvAuthorizeFilter", [&](DisplayProvider* p) {
        return p->authorizeFilter(mi, context, filter, className, classPath, owner);
    });
}

static CMPIStatus drvMustPoll(CMPIIndicationMI* mi, const CMPIContext* context,
                              const CMPISelectExp* filter, const char* className,
                              const CMPIObjectPath* classPath)
{
    return Wrapped("drvMustPoll", [&](DisplayProvider* p) {
        return p->mustPoll(mi, context, filter, className, classPath);
    });
}

static CMPIStatus drvActivateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                    const CMPISelectExp* filter, const char* className,
                                    const CMPIObjectPath* classPath, CMPIBoolean firstActivation)
{
    return Wrapped("drvActivateFilter", [&](DisplayProvider* p) {
        return p->activateFilter(mi, context, filter, className, classPath, firstActivation);
    });
}

static CMPIStatus drvDeActivateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                      const CMPISelectExp* filter, const char* className,
                                      const CMPIObjectPath* classPath, CMPIBoolean lastActivation)
{
    return Wrapped("drvDeActivateFilter", [&](DisplayProvider* p) {
        return p->deActivateFilter(mi, context, filter, className, classPath, lastActivation);
    });
}

static IndicationControlResult drvEnableIndications(CMPIIndicationMI* mi,
                                                           const CMPIContext* context)
{
    Wrapped("enableIndications", [&](DisplayProvider* p) {
        p->enableIndications(mi, context);
        return Status(CMPI_RC_OK);
    });
    return ControlDone<IndicationControlResult>();
}

static IndicationControlResult drvDisableIndications(CMPIIndicationMI* mi,
                                                            const CMPIContext* context)
{
    Wrapped("drvDisableIndications", [&](DisplayProvider* p) {
        p->disableIndications(mi, context);
        return Status(CMPI_RC_OK);
    });
    return ControlDone<IndicationControlResult>();
}

// ---------------------------------------------------------------------------
// DisplayProvider: lifecycle
// ---------------------------------------------------------------------------

DisplayProvider::DisplayProvider()
    : initialised(false),
      activeIndSubscriptions(0),
      indicationsEnabled(false),
      indCtx(nullptr),
      broker(nullptr),
      displayApi(nullptr)
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider constructed");
}

DisplayProvider::~DisplayProvider()
{
    Log(LEVEL_DEBUG, "DisplayProvider destructor - display=0x%p", static_cast<void*>(displayApi));
    if (displayApi != nullptr) {
        LogQuick(LEVEL_DEBUG, "deleting DisplayApi object");
        delete displayApi;
        displayApi = nullptr;
    }
    provider = nullptr;
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
}

// ---------------------------------------------------------------------------
// DisplayProvider: instance operations
// ---------------------------------------------------------------------------

bool DisplayProvider::isCimV2Namespace(const char* text)
{
    return text != nullptr && strcasecmp(text, kNameSpace) == 0;
}

bool DisplayProvider::isQavDisplayClass(const char* text)
{
    return text != nullptr && std::strcmp(text, "QAV_Display") == 0;
}

CMPIStatus DisplayProvider::enumInstanceNames(CMPIInstanceMI*, const CMPIContext*,
                                              const CMPIResult* result,
                                              const CMPIObjectPath* reference)
{
    return enumerate(Enumeration::Names, result, reference);
}

CMPIStatus DisplayProvider::enumInstances(CMPIInstanceMI*, const CMPIContext*,
                                          const CMPIResult* result,
                                          const CMPIObjectPath* reference, const char**)
{
    return enumerate(Enumeration::Instances, result, reference);
}

CMPIStatus DisplayProvider::enumerate(Enumeration kind, const CMPIResult* result,
                                      const CMPIObjectPath* reference)
{
    const bool names = kind == Enumeration::Names;
    const char* operation = names ? "enumerateInstanceNames" : "enumerateInstances";
    CMPIStatus status = Status(CMPI_RC_OK);

    if (!UsableResult(result)) {
        Log(LEVEL_ERROR, "DisplayProvider::%s - no result object", operation);
        return Status(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    // A namespace or class name the broker cannot give leaves its failure
    // status in the result, and the missing text is not read.
    const char* nameSpace = Cmpi::ReadNameSpace(reference, &status);
    const char* className = nullptr;
    if (status.rc == CMPI_RC_OK) {
        className = Cmpi::ReadClassName(reference, &status);
    }
    if (names) {
        Log(LEVEL_DEBUG,
            "DisplayProvider::enumInstanceNames - Reference object path: class = %s, namespace = %s\n",
            Text(className), Text(nameSpace));
    } else {
        Log(LEVEL_DEBUG,
            "DisplayProvider::enumInstances - Reference object path: class = %s, namespace = %s\n",
            Text(className), Text(nameSpace));
    }

    if (status.rc != CMPI_RC_OK) {
        // keep the broker's status
    } else if (!isCimV2Namespace(nameSpace)) {
        status = Status(CMPI_RC_ERR_INVALID_NAMESPACE);
    } else if (!isQavDisplayClass(className)) {
        status = Status(CMPI_RC_ERR_INVALID_CLASS);
    } else {
        bool returned = false;
        bool failed = false;
        try {
            updateDisplays();
            int count = qavDisplays.getNumDisplays();
            for (int i = 0; i < count; ++i) {
                QAV_Display* display = qavDisplays.getDisplayAt(i);
                if (display == nullptr) {
                    continue;
                }
                if (names) {
                    ReturnPath(result, display->getObjectPath(broker));
                } else {
                    ReturnInstance(result, display->getInstance(broker));
                }
                returned = true;
            }
        } catch (const CmpiException& e) {
            Log(LEVEL_ERROR, "DisplayProvider::%s - CMPIStatus %i, %s", operation,
                static_cast<int>(e.getCode()), e.getMessage().c_str());
            failed = true;
        } catch (...) {
            Log(LEVEL_ERROR, "DisplayProvider::%s -  Unknown Exception", operation);
            failed = true;
        }
        if (failed) {
            status = Status(CMPI_RC_ERR_FAILED);
        }
        if (!returned) {
            Log(LEVEL_TRACE, "DisplayProvider::%s - No instances found", operation);
        }
    }
    ReturnDone(result);
    return status;
}

CMPIStatus DisplayProvider::getInstance(CMPIInstanceMI*, const CMPIContext*,
                                        const CMPIResult* result, const CMPIObjectPath* path,
                                        const char**)
{
    CMPIStatus status = Status(CMPI_RC_OK);
    if (!UsableResult(result)) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::getInstance - no result object");
        return Status(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    const char* nameSpace = Cmpi::ReadNameSpace(path, &status);
    const char* className = nullptr;
    if (status.rc == CMPI_RC_OK) {
        className = Cmpi::ReadClassName(path, &status);
    }
    Log(LEVEL_DEBUG, "DisplayProvider::getInstance - Object path: class = %s, namespace = %s",
        Text(className), Text(nameSpace));

    if (status.rc != CMPI_RC_OK) {
        // keep the broker's status
    } else if (!isCimV2Namespace(nameSpace)) {
        status = Status(CMPI_RC_ERR_INVALID_NAMESPACE);
    } else if (!isQavDisplayClass(className)) {
        status = Status(CMPI_RC_ERR_INVALID_CLASS);
    } else {
        bool found = false;
        try {
            updateDisplays();
            int count = qavDisplays.getNumDisplays();
            for (int i = 0; i < count && !found; ++i) {
                QAV_Display* display = qavDisplays.getDisplayAt(i);
                if (display == nullptr) {
                    continue;
                }
                // The whole identifier must match, as the client saw it.
                std::string requested = Cmpi::GetCharsKeyValue(path, "DeviceID");
                if (requested == display->getDeviceID()) {
                    ReturnInstance(result, display->getInstance(broker));
                    found = true;
                }
            }
            if (!found) {
                status = Status(CMPI_RC_ERR_NOT_FOUND);
            }
        } catch (const CmpiException& e) {
            Log(LEVEL_ERROR, "DisplayProvider::getInstance - CMPIStatus %i, %s",
                static_cast<int>(e.getCode()), e.getMessage().c_str());
            status = Status(CMPI_RC_ERR_FAILED);
            found = false;
        } catch (...) {
            LogQuick(LEVEL_ERROR, "DisplayProvider::getInstance -  Unknown Exception");
            status = Status(CMPI_RC_ERR_FAILED);
            found = false;
        }
        if (!found) {
            LogQuick(LEVEL_TRACE, "DisplayProvider::getInstance - No instance found");
        }
    }
    ReturnDone(result);
    return status;
}

// ---------------------------------------------------------------------------
// DisplayProvider: indications
// ---------------------------------------------------------------------------

bool DisplayProvider::isQavDisplayIndicationClass(const char* text)
{
    return text != nullptr &&
           (std::strcmp(text, "CIM_InstCreation") == 0 || std::strcmp(text, "CIM_InstDeletion") == 0);
}

CMPIStatus DisplayProvider::checkFilterClass(const char* operation, const CMPIObjectPath* classPath,
                                             std::string& className) const
{
    CMPIStatus status = Status(CMPI_RC_OK);
    const char* text = Cmpi::ReadClassName(classPath, &status);
    Log(LEVEL_DEBUG, "DisplayProvider::%s - Object path: class = %s", operation, Text(text));
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (!isQavDisplayIndicationClass(text)) {
        return Status(CMPI_RC_ERR_INVALID_CLASS);
    }
    className = text;
    return status;
}

CMPIStatus DisplayProvider::authorizeFilter(CMPIIndicationMI*, const CMPIContext*,
                                            const CMPISelectExp*, const char*,
                                            const CMPIObjectPath* classPath, const char*)
{
    std::string className;
    return checkFilterClass("authorizeFilter", classPath, className);
}

CMPIStatus DisplayProvider::mustPoll(CMPIIndicationMI*, const CMPIContext*, const CMPISelectExp*,
                                     const char*, const CMPIObjectPath*)
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider::mustPoll - not supported");
    return Status(CMPI_RC_ERR_NOT_SUPPORTED);
}

CMPIStatus DisplayProvider::activateFilter(CMPIIndicationMI*, const CMPIContext* context,
                                           const CMPISelectExp*, const char*,
                                           const CMPIObjectPath* classPath,
                                           CMPIBoolean firstActivation)
{
    std::string className;
    CMPIStatus status = checkFilterClass("activateFilter", classPath, className);
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (firstActivation) {
        Log(LEVEL_DEBUG, "DisplayProvider::activateFilter - First activation of %s",
            className.c_str());
    }
    Log(LEVEL_DEBUG, "DisplayProvider::activateFilter - previous activeIndSubscriptions=%i",
        activeIndSubscriptions);
    ++activeIndSubscriptions;
    Log(LEVEL_DEBUG, "DisplayProvider::activateFilter - current activeIndSubscriptions=%i",
        activeIndSubscriptions);
    if (activeIndSubscriptions > 1) {
        return status;
    }
    if (indCtx == nullptr && broker != nullptr && broker->bft != nullptr &&
        broker->bft->prepareAttachThread != nullptr) {
        indCtx = broker->bft->prepareAttachThread(broker, context);
        Log(LEVEL_DEBUG, "Indication Thread Context: indCtx=%p", static_cast<const void*>(indCtx));
    }
    if (displayApi != nullptr) {
        displayApi->setDisplayListener(this);
    }
    return status;
}

CMPIStatus DisplayProvider::deActivateFilter(CMPIIndicationMI*, const CMPIContext*,
                                             const CMPISelectExp*, const char*,
                                             const CMPIObjectPath* classPath,
                                             CMPIBoolean lastActivation)
{
    std::string className;
    CMPIStatus status = checkFilterClass("deActivateFilter", classPath, className);
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (lastActivation) {
        Log(LEVEL_DEBUG, "DisplayProvider::deActivateFilter - Last deActiviation of %s",
            className.c_str());
    }
    Log(LEVEL_DEBUG, "DisplayProvider::deActivateFilter - previous activeIndSubscriptions=%i",
        activeIndSubscriptions);
    --activeIndSubscriptions;
    Log(LEVEL_DEBUG, "DisplayProvider::deActivateFilter - current activeIndSubscriptions=%i",
        activeIndSubscriptions);
    if (activeIndSubscriptions <= 0) {
        indicationsEnabled = false;
        if (displayApi != nullptr) {
            displayApi->clearDisplayListener();
        }
    }
    return status;
}

void DisplayProvider::enableIndications(CMPIIndicationMI* mi, const CMPIContext* context)
{
    Log(LEVEL_DEBUG, "DisplayProvider::enableIndications(%p,%p)", static_cast<void*>(mi),
        static_cast<const void*>(context));
    indicationsEnabled = true;
}

void DisplayProvider::disableIndications(CMPIIndicationMI* mi, const CMPIContext* context)
{
    Log(LEVEL_DEBUG, "DisplayProvider::disableIndications(%p,%p)", static_cast<void*>(mi),
        static_cast<const void*>(context));
    indicationsEnabled = false;
}

void DisplayProvider::indicationCleanup()
{
    Log(LEVEL_DEBUG, "DisplayProvider::indicationCleanup - previous activeIndSubscriptions=%i",
        activeIndSubscriptions);
    --activeIndSubscriptions;
    Log(LEVEL_DEBUG, "DisplayProvider::indicationCleanup - current activeIndSubscriptions=%i",
        activeIndSubscriptions);
    if (activeIndSubscriptions > 0) {
        return;
    }
    LogQuick(LEVEL_DEBUG, "DisplayProvider::indicationCleanup - Cleaning up indication variables");
    indicationsEnabled = false;
    if (displayApi != nullptr) {
        displayApi->clearDisplayListener();
    }
}

void DisplayProvider::DisplayCreated(DisplayInformation info)
{
    // Called from inside the driver: nothing may escape back into it.
    try {
        Log(LEVEL_DEBUG, "DisplayProvider::DisplayCreated(%s,%s,%s)", info.physicalDeviceName.c_str(),
            info.modelName.c_str(), info.serialNumber.c_str());
        reportChange(0, info);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::DisplayCreated -  Unknown Exception");
    }
}

void DisplayProvider::DisplayDeleted(DisplayInformation info)
{
    try {
        Log(LEVEL_DEBUG, "DisplayProvider::DisplayDeleted(%s,%s,%s)", info.physicalDeviceName.c_str(),
            info.modelName.c_str(), info.serialNumber.c_str());
        reportChange(1, info);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::DisplayDeleted -  Unknown Exception");
    }
}

void DisplayProvider::reportChange(int32_t type, const DisplayInformation& info)
{
    if (!indicationsEnabled) {
        return;
    }
    std::unique_ptr<QAV_Display> display(new QAV_Display());
    qavDisplays.populateDisplay(display.get(), info);
    sendLifecycleIndication(type, display.release());
}

void DisplayProvider::sendLifecycleIndication(int32_t type, QAV_Display* display)
{
    std::unique_ptr<QAV_Display> owned(display);
    if (!owned) {
        return;
    }
    Log(LEVEL_DEBUG, "DisplayProvider::sendLifecycleIndication(%i,%s)", type,
        owned->getDeviceID().c_str());
    std::unique_ptr<IndicateArgs> args(new IndicateArgs{broker, indCtx, type, owned.get()});
    CMPI_THREAD_TYPE thread = nullptr;
    if (broker != nullptr && broker->xft != nullptr && broker->xft->newThread != nullptr) {
        thread = broker->xft->newThread(indicateThread, args.get(), 1);
    }
    if (thread == nullptr) {
        // No thread took the record: it and the display are freed here.
        Log(LEVEL_ERROR,
            "DisplayProvider::sendLifecycleIndication - newThread failed, indication for %s dropped",
            owned->getDeviceID().c_str());
    } else {
        args.release();
        owned.release();
    }
    LogQuick(LEVEL_DEBUG, "DisplayProvider::sendLifecycleIndication - exit");
}

std::string DisplayProvider::ModelPath(const std::string& deviceId)
{
    std::string path = "root/cimv2:QAV_Display.DeviceID=\"";
    for (char c : deviceId) {
        if (c == '\\' || c == '"') {
            path += '\\';
        }
        path += c;
    }
    path += '"';
    return path;
}

// Builds and delivers one lifecycle indication on a detached broker thread.
// Touches no provider state: everything comes in the argument record, which
// the thread frees together with the display.
static CMPI_THREAD_RETURN CMPI_THREAD_CDECL indicateThread(void* parameter)
{
    IndicateArgs* args = static_cast<IndicateArgs*>(parameter);
    if (args == nullptr) {
        return 0;
    }
    try {
        const CMPIBroker* broker = args->broker;
        const QAV_Display* display = args->display;
        Log(LEVEL_DEBUG, "IndicateThread - 0x%p", reinterpret_cast<void*>(pthread_self()));
        Log(LEVEL_DEBUG, "IndicateThread - type=%i, deviceID=%s, ind_ctx=%p, broker=%p", args->type,
            display != nullptr ? display->getDeviceID().c_str() : "",
            static_cast<const void*>(args->ind_ctx), static_cast<const void*>(broker));

        const CMPIBrokerFT* bft = broker != nullptr ? broker->bft : nullptr;
        CMPIContext* context = nullptr;
        CMPIStatus attached = Status(CMPI_RC_ERR_FAILED);
        if (bft != nullptr && bft->prepareAttachThread != nullptr && bft->attachThread != nullptr) {
            context = bft->prepareAttachThread(broker, args->ind_ctx);
            if (context != nullptr) {
                attached = bft->attachThread(broker, context);
            }
        }
        if (attached.rc != CMPI_RC_OK) {
            Log(LEVEL_ERROR, "indicateThread - CMAttachThread: CMPIStatus %i",
                static_cast<int>(attached.rc));
            if (context != nullptr && context->ft != nullptr && context->ft->release != nullptr) {
                context->ft->release(context);
            }
        } else {
            try {
                if (display == nullptr) {
                    Cmpi::Raise(CMPI_RC_ERR_FAILED);
                }
                CMPIInstance* instance = display->getInstance(broker);
                Log(LEVEL_DEBUG, "Indication instance type=%d", args->type);
                CMPIObjectPath* path;
                if (args->type != 0) {
                    LogQuick(LEVEL_DEBUG, "DELETION: Making a CIM_InstDeletion");
                    path = Cmpi::MakeNewObjectPath(broker, kNameSpace, "CIM_InstDeletion");
                } else {
                    LogQuick(LEVEL_DEBUG, "CREATION: Making a CIM_InstCreation");
                    path = Cmpi::MakeNewObjectPath(broker, kNameSpace, "CIM_InstCreation");
                }
                CMPIInstance* indication = Cmpi::MakeNewInstance(broker, path);
                Cmpi::SetInstanceProperty(indication, "SourceInstance", instance);
                LogQuick(LEVEL_DEBUG, "Object created and display instance embedded");
                Cmpi::SetCharsProperty(indication, "SourceInstanceModelPath",
                                       DisplayProvider::ModelPath(display->getDeviceID()));
                CMPIDateTime* now = Cmpi::MakeNewDateTime(broker);
                Cmpi::SetDateTimeProperty(indication, "IndicationTime", now);
                Cmpi::deliverIndication(broker, context, kNameSpace, indication);
            } catch (const CmpiException& e) {
                Log(LEVEL_ERROR, "indicateThread - CMPIStatus %i, %s", static_cast<int>(e.getCode()),
                    e.getMessage().c_str());
            } catch (...) {
                LogQuick(LEVEL_ERROR, "indicateThread - Unknown Exception");
            }
            if (bft->detachThread != nullptr) {
                bft->detachThread(broker, context);
            }
        }
    } catch (...) {
        LogQuick(LEVEL_ERROR, "indicateThread - Unknown Exception");
    }
    delete args->display;
    delete args;
    LogQuick(LEVEL_DEBUG, "IndicateThread - Exit");
    return 0;
}
