// The library's CMPI entry points: the library state and its lock
// drv_synch, the MI factories, cleanup by use count, the drv... wrappers
// that call the one provider object, and the MI function tables.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <type_traits>
#include <utility>

#include "DisplayProvider.h"
#include "IndicationThreads.h"
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

// The one provider object, shared by both MIs. All of this state is read
// and changed with drv_synch held.
static DisplayProvider* provider = nullptr;
static pthread_mutex_t drv_synch;

// One use per MI a factory handed out and no cleanup has released:
// use_count is their sum, mi_uses their split by kind.
enum class MiKind { Instance, Indication };
static int32_t use_count = 0;
static int32_t mi_uses[2] = {0, 0};

static int32_t& MiUses(MiKind kind) { return mi_uses[kind == MiKind::Instance ? 0 : 1]; }
static void __incrUseCount(MiKind kind)
{
    ++use_count;
    ++MiUses(kind);
}
static void __decrUseCount(MiKind kind)
{
    --use_count;
    --MiUses(kind);
}
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

// Runs the part of a factory that needs drv_synch. Creates and initialises
// the provider on the first call; the MI handle of the creating factory
// points to it. Counts the use only once everything has succeeded, and
// answers whether it did: a provider that failed to build is freed here and
// never counted. The handle is void* in some header sets and const void* in
// others, hence the template.
template <typename MI>
static bool CreateUnderLock(const char* factory, MiKind kind, MI& mi, const CMPIBroker* broker,
                            const CMPIContext* context)
{
    if (kind == MiKind::Instance) {
        Log(LEVEL_INFO, "Vostran Monitor Inventory Drivers for Linux %s, %s", displayprov::PnlmonlVersion,
            displayprov::BuildDate());
    }
    int version = (broker != nullptr && broker->eft != nullptr) ? broker->eft->ftVersion : 0;
    fprintf(stderr, "%s, broker=%p, version=%i, pid=%i\n", factory,
            static_cast<const void*>(broker), version, static_cast<int>(getpid()));
    Log(LEVEL_DEBUG, "%s, broker=%p, version=%i, pid=%i", factory,
        static_cast<const void*>(broker), version, static_cast<int>(getpid()));
    if (provider == nullptr) {
        std::unique_ptr<DisplayProvider> created;
        try {
            created.reset(new DisplayProvider());
        } catch (...) {
            created.reset();
        }
        if (!created) {
            Log(LEVEL_ERROR, "%s - Provider malloc failed", factory);
            return false;
        }
        created->setBroker(broker);
        created->initialise(context);  // may throw: the provider is then freed
        provider = created.release();
        mi.hdl = provider;
    }
    __incrUseCount(kind);
    return true;
}

// A factory: the MI for a provider it counted, or NULL and
// CMPI_RC_ERR_FAILED, so that every MI a CIM object manager holds stands
// for one use.
template <typename MI>
static MI* Create(const char* factory, MiKind kind, MI& mi, const CMPIBroker* broker,
                  const CMPIContext* context, CMPIStatus* rc)
{
    bool counted = false;
    try {
        DrvLock lock;
        counted = CreateUnderLock(factory, kind, mi, broker, context);
    } catch (...) {
        Log(LEVEL_ERROR, "%s - Unknown Exception", factory);
    }
    if (rc != nullptr) {
        *rc = Status(counted ? CMPI_RC_OK : CMPI_RC_ERR_FAILED);
    }
    return counted ? &mi : nullptr;
}

extern "C" PNLMON_EXPORT CMPIInstanceMI* DisplayProvider_Create_InstanceMI(
    const CMPIBroker* broker, const CMPIContext* context, CMPIStatus* rc)
{
    return Create("DisplayProvider_Create_InstanceMI", MiKind::Instance, instanceMI, broker,
                  context, rc);
}

extern "C" PNLMON_EXPORT CMPIIndicationMI* DisplayProvider_Create_IndicationMI(
    const CMPIBroker* broker, const CMPIContext* context, CMPIStatus* rc)
{
    return Create("DisplayProvider_Create_IndicationMI", MiKind::Indication, indicationMI, broker,
                  context, rc);
}

// ---------------------------------------------------------------------------
// Cleanup: when the provider may go
// ---------------------------------------------------------------------------

// Whether a cleanup of an MI of this kind refuses the unload, changing
// nothing. A terminating cleanup never refuses. An idle one (terminating
// false) is refused for the indication MI, whose subscriptions may come back
// at any time, and for the instance MI while the indication MI is held: a
// CIM object manager may clean up each MI in turn and keep the library, with
// both MIs, when either refuses, so releasing the instance use there would
// leave the provider destroyed under MIs still in use. Caller holds
// drv_synch.
static bool RefusesUnload(MiKind kind, bool terminating)
{
    if (terminating) {
        return false;
    }
    // While changes are announced as they happen, an unload would silently
    // end the announcements.
    if (provider != nullptr && provider->announcing()) {
        return true;
    }
    return kind == MiKind::Indication || MiUses(MiKind::Indication) > 0;
}

// Drops one use of this kind; at zero the provider is destroyed. A kind
// with no use left (a repeated cleanup) changes nothing. Caller holds
// drv_synch.
static void __drv_cleanup(MiKind kind)
{
    if (MiUses(kind) <= 0) {
        Log(LEVEL_DEBUG, "__drv_cleanup - no %s MI use to release",
            kind == MiKind::Instance ? "instance" : "indication");
        return;
    }
    Log(LEVEL_DEBUG, "__drv_cleanup - provider=%p, use_count before decrement=%i",
        static_cast<void*>(provider), use_count);
    __decrUseCount(kind);
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

// How long a terminating cleanup waits for indication threads in flight.
static const std::chrono::milliseconds kIndicationThreadsBound(5000);

// Waits, bounded, for the indication threads still running, so that a CIM
// object manager that unloads the library once the cleanup has returned
// never runs unmapped code. Called without drv_synch, which the threads
// never take.
static void AwaitIndicationThreads(const char* entry)
{
    int running = IndicationThreads::running();
    if (running == 0) {
        return;
    }
    Log(LEVEL_INFO, "%s - waiting for %i indication threads", entry, running);
    int left = IndicationThreads::waitIdle(kIndicationThreadsBound);
    if (left > 0) {
        Log(LEVEL_ERROR, "%s - %i indication threads still running after %lli ms", entry, left,
            static_cast<long long>(kIndicationThreadsBound.count()));
        // The object manager may unload the library once this returns: the
        // threads' code must stay mapped.
        if (IndicationThreads::keepLibraryLoaded()) {
            Log(LEVEL_INFO, "%s - the library stays loaded for the rest of the process", entry);
        } else {
            Log(LEVEL_ERROR, "%s - the library cannot be kept loaded", entry);
        }
    }
}

// The cleanup of either MI. The indication MI's also resets the
// subscription state before its use goes.
static CMPIStatus Cleanup(const char* entry, MiKind kind, bool terminating)
{
    bool refused = false;
    try {
        DrvLock lock;
        Log(LEVEL_DEBUG, "%s - provider=%p, terminating=%x", entry, static_cast<void*>(provider),
            terminating ? 1u : 0u);
        refused = RefusesUnload(kind, terminating);
        if (refused) {
            Log(LEVEL_DEBUG, "%s - unload refused, use_count=%i", entry, use_count);
        } else if (provider != nullptr) {
            if (terminating) {
                // Its thread ends (and any refresh with it) before the
                // library may go.
                provider->stopAnnouncements();
            }
            if (kind == MiKind::Indication) {
                provider->indicationCleanup();
            }
            __drv_cleanup(kind);
        }
    } catch (...) {
        Log(LEVEL_ERROR, "%s - Unknown Exception", entry);
    }
    if (refused) {
        return Status(CMPI_RC_DO_NOT_UNLOAD);
    }
    if (terminating) {
        AwaitIndicationThreads(entry);
    }
    return Status(CMPI_RC_OK);
}

static CMPIStatus drvInstanceCleanup(CMPIInstanceMI*, const CMPIContext*, CMPIBoolean terminating)
{
    return Cleanup("drvInstanceCleanup", MiKind::Instance, terminating != 0);
}

static CMPIStatus drvIndicationCleanup(CMPIIndicationMI*, const CMPIContext*,
                                       CMPIBoolean terminating)
{
    return Cleanup("drvIndicationCleanup", MiKind::Indication, terminating != 0);
}

// The announcer's refresh. The lock is tried rather than waited for, so
// that a cleanup or deactivation holding it can stop the announcer and wait
// for its thread.
ChangeAnnouncer::Outcome RefreshUnderLibraryLock(ChangeAnnouncer& announcer)
{
    while (pthread_mutex_trylock(&drv_synch) != 0) {
        if (!announcer.pauseForLock()) {
            return ChangeAnnouncer::Outcome::Stopped;
        }
    }
    ChangeAnnouncer::Outcome outcome = ChangeAnnouncer::Outcome::Stopped;
    try {
        // While the announcer is not stopping, the provider that owns it is
        // the current one.
        if (!announcer.stopping() && provider != nullptr && provider->isInitialised()) {
            outcome = provider->refreshForAnnouncement() == DSP_FLASH_IN_PROGRESS
                          ? ChangeAnnouncer::Outcome::FlashActive
                          : ChangeAnnouncer::Outcome::Done;
        }
    } catch (...) {
        LogQuick(LEVEL_ERROR, "RefreshUnderLibraryLock - Unknown Exception");
    }
    __drv_unsynch();
    return outcome;
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
