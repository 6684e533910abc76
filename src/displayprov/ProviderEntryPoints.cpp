// The library's CMPI entry points: the library state and its lock
// drv_synch, the MI factories, cleanup by use count, the drv... wrappers
// that call the one provider object, and the MI function tables.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <type_traits>
#include <utility>

#include "DisplayProvider.h"
#include "ProviderSupport.h"
#include "log.h"

using displayprov::Status;

namespace {

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
