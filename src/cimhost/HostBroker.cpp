#include "HostBroker.h"

#include "ArgsObject.h"
#include "ArrayObject.h"
#include "ContextObject.h"
#include "DateTimeObject.h"
#include "InstanceObject.h"
#include "ObjectPathObject.h"
#include "ObjectRegistry.h"
#include "ResultObject.h"
#include "SelectExpObject.h"
#include "StringObject.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cimhost {

namespace {

// Live brokers, newest last. The OS-encapsulation calls carry no broker
// argument; they act for the broker of the calling thread's scope, else the
// newest live broker.
std::mutex liveMutex;
std::vector<HostBroker*> liveBrokers;

std::recursive_mutex onceMutex;

// Array sizes a provider may ask for; anything larger is refused.
constexpr CMPICount kMaxArraySize = 1u << 20;

std::string typeNameOf(const BrokerObject* obj)
{
    if (dynamic_cast<const InstanceObject*>(obj)) return "CMPIInstance";
    if (dynamic_cast<const ObjectPathObject*>(obj)) return "CMPIObjectPath";
    if (dynamic_cast<const StringObject*>(obj)) return "CMPIString";
    if (dynamic_cast<const ArrayObject*>(obj)) return "CMPIArray";
    if (dynamic_cast<const DateTimeObject*>(obj)) return "CMPIDateTime";
    if (dynamic_cast<const ContextObject*>(obj)) return "CMPIContext";
    if (dynamic_cast<const ResultObject*>(obj)) return "CMPIResult";
    if (dynamic_cast<const SelectExpObject*>(obj)) return "CMPISelectExp";
    if (dynamic_cast<const ArgsObject*>(obj)) return "CMPIArgs";
    return "";
}

} // namespace

// The broker's function tables.
struct BrokerTables {
    static HostBroker* osBroker()
    {
        const HostBroker* scoped = ObjectRegistry::instance().scopeBroker(ObjectRegistry::threadScope());
        std::lock_guard<std::mutex> lock(liveMutex);
        for (HostBroker* b : liveBrokers) {
            if (b == scoped) {
                return b;
            }
        }
        return liveBrokers.empty() ? nullptr : liveBrokers.back();
    }

    static void unsupported(const CMPIBroker* mb)
    {
        if (HostBroker* b = HostBroker::From(mb)) {
            std::lock_guard<std::mutex> lock(b->mutex_);
            ++b->counters_.unsupportedCalls;
        }
    }

    // ---- bft ---------------------------------------------------------------

    static CMPIContext* prepareAttachThread(const CMPIBroker* mb, const CMPIContext* ctx)
    {
        HostBroker* b = HostBroker::From(mb);
        ContextObject* parent = ContextObject::From(ctx);
        if (b == nullptr || parent == nullptr) {
            return nullptr;
        }
        try {
            CMPIContext* prepared = ContextObject::Make(*b, parent->entries, true, b->scope());
            std::lock_guard<std::mutex> lock(b->mutex_);
            ++b->counters_.preparedContexts;
            return prepared;
        } catch (...) {
            return nullptr;
        }
    }

    static CMPIStatus attachThread(const CMPIBroker* mb, const CMPIContext* ctx)
    {
        HostBroker* b = HostBroker::From(mb);
        if (b == nullptr) {
            return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
        }
        ContextObject* c = ContextObject::From(ctx);
        std::lock_guard<std::mutex> lock(b->mutex_);
        if (b->failAttach_) {
            return MakeStatus(b->failAttachRc_);
        }
        if (c == nullptr || !c->prepared) {
            return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
        }
        if (c->attachScope != 0) {
            // One thread per prepared context.
            return MakeStatus(CMPI_RC_ERR_FAILED);
        }
        c->attachScope = ObjectRegistry::instance().openScope(*b);
        c->previousScope = ObjectRegistry::threadScope();
        b->attachScopes_.insert(c->attachScope);
        ObjectRegistry::setThreadScope(c->attachScope);
        ++b->counters_.attaches;
        return MakeStatus(CMPI_RC_OK);
    }

    static CMPIStatus detachThread(const CMPIBroker* mb, const CMPIContext* ctx)
    {
        HostBroker* b = HostBroker::From(mb);
        ContextObject* c = ContextObject::From(ctx);
        if (b == nullptr || c == nullptr || !c->prepared) {
            return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
        }
        std::uint64_t scope;
        {
            std::lock_guard<std::mutex> lock(b->mutex_);
            scope = c->attachScope;
            c->attachScope = 0;
            b->attachScopes_.erase(scope);
            ++b->counters_.detaches;
        }
        if (scope != 0 && ObjectRegistry::threadScope() == scope) {
            ObjectRegistry::setThreadScope(c->previousScope);
        }
        if (scope != 0) {
            ObjectRegistry::instance().closeScope(scope);
        }
        // The prepared context ends with the detach, as in real brokers.
        ObjectRegistry::instance().release(ctx);
        return MakeStatus(CMPI_RC_OK);
    }

    static CMPIStatus deliverIndication(const CMPIBroker* mb, const CMPIContext* ctx, const char* ns,
                                        const CMPIInstance* ind)
    {
        (void)ctx;
        HostBroker* b = HostBroker::From(mb);
        if (b == nullptr) {
            return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
        }
        std::chrono::milliseconds delay{0};
        {
            std::lock_guard<std::mutex> lock(b->mutex_);
            if (b->refuseDeliver_) {
                ++b->counters_.refusedDeliveries;
                return MakeStatus(b->refuseDeliverRc_);
            }
            delay = b->deliverDelay_;
        }
        if (delay.count() > 0) {
            std::this_thread::sleep_for(delay);
        }
        InstanceObject* i = InstanceObject::From(ind);
        if (i == nullptr) {
            return MakeStatus(CMPI_RC_ERR_INVALID_PARAMETER);
        }
        try {
            HostIndication h;
            h.nameSpace = ns ? ns : "";
            h.instance = i->model;
            h.attached = b->isAttachScope(ObjectRegistry::threadScope());
            {
                std::lock_guard<std::mutex> lock(b->mutex_);
                ++b->counters_.deliveries;
            }
            b->indications_.push(std::move(h));
            return MakeStatus(CMPI_RC_OK);
        } catch (...) {
            return MakeStatus(CMPI_RC_ERR_FAILED);
        }
    }

    // Up-calls into other providers: this host has none to offer.
    static CMPIEnumeration* enumerateInstanceNames(const CMPIBroker* mb, const CMPIContext*,
                                                   const CMPIObjectPath*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIInstance* getInstance(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*, const char**,
                                     CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIObjectPath* createInstance(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                          const CMPIInstance*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIStatus modifyInstance(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                     const CMPIInstance*, const char**)
    {
        unsupported(mb);
        return MakeStatus(CMPI_RC_ERR_NOT_SUPPORTED);
    }
    static CMPIStatus deleteInstance(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*)
    {
        unsupported(mb);
        return MakeStatus(CMPI_RC_ERR_NOT_SUPPORTED);
    }
    static CMPIEnumeration* execQuery(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*, const char*,
                                      const char*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIEnumeration* enumerateInstances(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                               const char**, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIEnumeration* associators(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                        const char*, const char*, const char*, const char*, const char**,
                                        CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIEnumeration* associatorNames(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                            const char*, const char*, const char*, const char*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIEnumeration* references(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                       const char*, const char*, const char**, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIEnumeration* referenceNames(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*,
                                           const char*, const char*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return nullptr;
    }
    static CMPIData invokeMethod(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*, const char*,
                                 const CMPIArgs*, CMPIArgs*, CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return MakeData(CMPI_null, CMPI_nullValue);
    }
    static CMPIStatus setProperty(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*, const char*,
                                  const CMPIValue*, CMPIType)
    {
        unsupported(mb);
        return MakeStatus(CMPI_RC_ERR_NOT_SUPPORTED);
    }
    static CMPIData getProperty(const CMPIBroker* mb, const CMPIContext*, const CMPIObjectPath*, const char*,
                                CMPIStatus* rc)
    {
        unsupported(mb);
        SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
        return MakeData(CMPI_null, CMPI_nullValue);
    }

    // ---- eft ---------------------------------------------------------------

    template <class F>
    static auto make(const CMPIBroker* mb, CMPIStatus* rc, F f) -> decltype(f(*HostBroker::From(mb)))
    {
        HostBroker* b = HostBroker::From(mb);
        if (b == nullptr) {
            SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
            return nullptr;
        }
        try {
            auto out = f(*b);
            SetStatus(rc, out ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_PARAMETER);
            return out;
        } catch (...) {
            SetStatus(rc, CMPI_RC_ERR_FAILED);
            return nullptr;
        }
    }

    static CMPIInstance* newInstance(const CMPIBroker* mb, const CMPIObjectPath* op, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) -> CMPIInstance* {
            ObjectPathObject* path = ObjectPathObject::From(op);
            if (path == nullptr) {
                return nullptr;
            }
            HostInstance model;
            model.path = path->model;
            return InstanceObject::Make(b, std::move(model));
        });
    }

    static CMPIObjectPath* newObjectPath(const CMPIBroker* mb, const char* ns, const char* cn, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) {
            HostObjectPath model;
            model.nameSpace = ns ? ns : "";
            model.className = cn ? cn : "";
            return ObjectPathObject::Make(b, std::move(model));
        });
    }

    static CMPIArgs* newArgs(const CMPIBroker* mb, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) { return ArgsObject::Make(b); });
    }

    static CMPIString* newString(const CMPIBroker* mb, const char* data, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) { return StringObject::Make(b, data ? data : ""); });
    }

    static CMPIArray* newArray(const CMPIBroker* mb, CMPICount size, CMPIType type, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) -> CMPIArray* {
            if (size > kMaxArraySize) {
                return nullptr;
            }
            CMPIType element = CmpiElement(type);
            return ArrayObject::Make(b, element, std::vector<HostValue>(size, HostValue::Null(element)));
        });
    }

    static CMPIType CmpiElement(CMPIType type)
    {
        CMPIType base = static_cast<CMPIType>(type & ~CMPI_ARRAY);
        if (base == CMPI_chars || base == CMPI_charsptr) {
            base = CMPI_string;
        }
        return base;
    }

    static CMPIDateTime* newDateTime(const CMPIBroker* mb, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) { return DateTimeObject::Make(b, DateTimeObject::NowUsec(), false); });
    }

    static CMPIDateTime* newDateTimeFromBinary(const CMPIBroker* mb, CMPIUint64 binTime, CMPIBoolean interval,
                                               CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) { return DateTimeObject::Make(b, binTime, interval != 0); });
    }

    static CMPIDateTime* newDateTimeFromChars(const CMPIBroker* mb, const char* utcTime, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) -> CMPIDateTime* {
            std::uint64_t usec = 0;
            bool interval = false;
            if (!DateTimeObject::Parse(utcTime, usec, interval)) {
                return nullptr;
            }
            return DateTimeObject::Make(b, usec, interval);
        });
    }

    static CMPISelectExp* newSelectExp(const CMPIBroker* mb, const char* query, const char* lang,
                                       CMPIArray** projection, CMPIStatus* rc)
    {
        if (projection != nullptr) {
            *projection = nullptr;
        }
        return make(mb, rc, [&](HostBroker& b) -> CMPISelectExp* {
            if (query == nullptr) {
                return nullptr;
            }
            return SelectExpObject::Make(b, query, lang ? lang : "");
        });
    }

    static CMPIBoolean classPathIsA(const CMPIBroker* mb, const CMPIObjectPath* op, const char* type,
                                    CMPIStatus* rc)
    {
        ObjectPathObject* path = ObjectPathObject::From(op);
        if (HostBroker::From(mb) == nullptr || path == nullptr || type == nullptr) {
            SetStatus(rc, CMPI_RC_ERR_INVALID_PARAMETER);
            return 0;
        }
        // No class hierarchy here: a class is only itself.
        SetStatus(rc, CMPI_RC_OK);
        return strcasecmp(path->model.className.c_str(), type) == 0 ? 1 : 0;
    }

    static CMPIString* toString(const CMPIBroker* mb, const void* object, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) -> CMPIString* {
            BrokerObject* obj = ObjectRegistry::instance().find(object);
            if (obj == nullptr) {
                return nullptr;
            }
            std::string text = typeNameOf(obj);
            if (auto* s = dynamic_cast<StringObject*>(obj)) {
                text = s->text;
            } else if (auto* p = dynamic_cast<ObjectPathObject*>(obj)) {
                text = p->model.toString();
            } else if (auto* i = dynamic_cast<InstanceObject*>(obj)) {
                text = "instance of " + i->model.className() + " (" + i->model.path.toString() + ")";
            } else if (auto* d = dynamic_cast<DateTimeObject*>(obj)) {
                text = DateTimeObject::Format(d->usec, d->interval);
            }
            return StringObject::Make(b, text);
        });
    }

    static CMPIBoolean isOfType(const CMPIBroker* mb, const void* object, const char* type, CMPIStatus* rc)
    {
        BrokerObject* obj = ObjectRegistry::instance().find(object);
        if (HostBroker::From(mb) == nullptr || obj == nullptr || type == nullptr) {
            SetStatus(rc, CMPI_RC_ERR_INVALID_PARAMETER);
            return 0;
        }
        SetStatus(rc, CMPI_RC_OK);
        return typeNameOf(obj) == type ? 1 : 0;
    }

    static CMPIString* getType(const CMPIBroker* mb, const void* object, CMPIStatus* rc)
    {
        return make(mb, rc, [&](HostBroker& b) -> CMPIString* {
            BrokerObject* obj = ObjectRegistry::instance().find(object);
            return obj ? StringObject::Make(b, typeNameOf(obj)) : nullptr;
        });
    }

    // No message catalogues: the default text with $0..$9 replaced by the
    // arguments.
    static CMPIString* getMessage(const CMPIBroker* mb, const char* msgId, const char* defMsg, CMPIStatus* rc,
                                  CMPICount count, ...)
    {
        (void)msgId;
        std::vector<std::string> args;
        va_list ap;
        va_start(ap, count);
        for (CMPICount i = 0; i < count && i < 10; ++i) {
            int type = va_arg(ap, int);
            switch (type) {
            case CMPI_sint32: args.push_back(std::to_string(va_arg(ap, long))); break;
            case CMPI_uint32: args.push_back(std::to_string(va_arg(ap, unsigned long))); break;
            case CMPI_sint64: args.push_back(std::to_string(va_arg(ap, long long))); break;
            case CMPI_uint64: args.push_back(std::to_string(va_arg(ap, unsigned long long))); break;
            case CMPI_real64: args.push_back(std::to_string(va_arg(ap, double))); break;
            case CMPI_boolean: args.push_back(va_arg(ap, int) ? "true" : "false"); break;
            case CMPI_chars: {
                const char* s = va_arg(ap, const char*);
                args.push_back(s ? s : "");
                break;
            }
            case CMPI_string: {
                std::string s;
                StringObject::TextOf(va_arg(ap, CMPIString*), s);
                args.push_back(s);
                break;
            }
            default:
                // Unknown type: the rest of the list cannot be read safely.
                i = count;
                break;
            }
        }
        va_end(ap);
        return make(mb, rc, [&](HostBroker& b) {
            std::string text;
            for (const char* p = defMsg ? defMsg : ""; *p; ++p) {
                if (p[0] == '$' && p[1] >= '0' && p[1] <= '9' &&
                    static_cast<std::size_t>(p[1] - '0') < args.size()) {
                    text += args[static_cast<std::size_t>(p[1] - '0')];
                    ++p;
                } else {
                    text += *p;
                }
            }
            return StringObject::Make(b, text);
        });
    }

    // Not served, as in the CIMOM whose behaviour this host copies.
    static CMPIStatus logMessage(const CMPIBroker* mb, int, const char*, const char*, const CMPIString*)
    {
        unsupported(mb);
        return MakeStatus(CMPI_RC_ERR_NOT_SUPPORTED);
    }
    static CMPIStatus trace(const CMPIBroker* mb, int, const char*, const char*, const CMPIString*)
    {
        unsupported(mb);
        return MakeStatus(CMPI_RC_ERR_NOT_SUPPORTED);
    }

    // ---- xft ---------------------------------------------------------------

    static char* resolveFileName(const char* filename)
    {
        if (filename == nullptr) {
            return nullptr;
        }
        std::string name = std::string("lib") + filename + ".so";
        return strdup(name.c_str());
    }

    static CMPI_THREAD_TYPE newThread(CMPI_THREAD_RETURN(CMPI_THREAD_CDECL* start)(void*), void* parm,
                                      int detached)
    {
        HostBroker* b = osBroker();
        if (b == nullptr || start == nullptr) {
            return nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(b->mutex_);
            if (b->failNewThread_) {
                ++b->counters_.threadsRefused;
                return nullptr;
            }
        }
        pthread_t id;
        if (!b->threads_.start(start, parm, detached != 0, id)) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(b->mutex_);
        ++b->counters_.threadsStarted;
        return reinterpret_cast<CMPI_THREAD_TYPE>(id);
    }

    static int joinThread(CMPI_THREAD_TYPE thread, CMPI_THREAD_RETURN* retval)
    {
        HostBroker* b = osBroker();
        return b ? b->threads_.join(reinterpret_cast<pthread_t>(thread), retval) : -1;
    }

    static int exitThread(CMPI_THREAD_RETURN returnCode)
    {
        pthread_exit(returnCode);
    }

    static int cancelThread(CMPI_THREAD_TYPE)
    {
        return -1; // cancelling provider threads is not supported
    }

    static int threadSleep(CMPIUint32 msec)
    {
        return usleep(static_cast<useconds_t>(msec) * 1000);
    }

    static int threadOnce(int* once, void (*init)(void))
    {
        if (once == nullptr || init == nullptr) {
            return -1;
        }
        std::lock_guard<std::recursive_mutex> lock(onceMutex);
        if (*once == 0) {
            *once = 1;
            init();
        }
        return 0;
    }

    static int createThreadKey(CMPI_THREAD_KEY_TYPE* key, void (*cleanup)(void*))
    {
        return key ? pthread_key_create(key, cleanup) : -1;
    }
    static int destroyThreadKey(CMPI_THREAD_KEY_TYPE key) { return pthread_key_delete(key); }
    static void* getThreadSpecific(CMPI_THREAD_KEY_TYPE key) { return pthread_getspecific(key); }
    static int setThreadSpecific(CMPI_THREAD_KEY_TYPE key, void* value) { return pthread_setspecific(key, value); }

    static CMPI_MUTEX_TYPE newMutex(int)
    {
        HostBroker* b = osBroker();
        auto* m = new (std::nothrow) pthread_mutex_t;
        if (m == nullptr) {
            return nullptr;
        }
        pthread_mutex_init(m, nullptr);
        if (b != nullptr) {
            std::lock_guard<std::mutex> lock(b->mutex_);
            b->mutexes_.insert(m);
        }
        return m;
    }

    static void destroyMutex(CMPI_MUTEX_TYPE m)
    {
        if (m == nullptr) {
            return;
        }
        if (HostBroker* b = osBroker()) {
            std::lock_guard<std::mutex> lock(b->mutex_);
            b->mutexes_.erase(m);
        }
        pthread_mutex_destroy(static_cast<pthread_mutex_t*>(m));
        delete static_cast<pthread_mutex_t*>(m);
    }

    static void lockMutex(CMPI_MUTEX_TYPE m)
    {
        if (m != nullptr) {
            pthread_mutex_lock(static_cast<pthread_mutex_t*>(m));
        }
    }

    static void unlockMutex(CMPI_MUTEX_TYPE m)
    {
        if (m != nullptr) {
            pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m));
        }
    }

    static CMPI_COND_TYPE newCondition(int)
    {
        HostBroker* b = osBroker();
        auto* c = new (std::nothrow) pthread_cond_t;
        if (c == nullptr) {
            return nullptr;
        }
        pthread_cond_init(c, nullptr);
        if (b != nullptr) {
            std::lock_guard<std::mutex> lock(b->mutex_);
            b->conditions_.insert(c);
        }
        return c;
    }

    static void destroyCondition(CMPI_COND_TYPE c)
    {
        if (c == nullptr) {
            return;
        }
        if (HostBroker* b = osBroker()) {
            std::lock_guard<std::mutex> lock(b->mutex_);
            b->conditions_.erase(c);
        }
        pthread_cond_destroy(static_cast<pthread_cond_t*>(c));
        delete static_cast<pthread_cond_t*>(c);
    }

    static int condWait(CMPI_COND_TYPE c, CMPI_MUTEX_TYPE m)
    {
        if (c == nullptr || m == nullptr) {
            return -1;
        }
        return pthread_cond_wait(static_cast<pthread_cond_t*>(c), static_cast<pthread_mutex_t*>(m));
    }

    static int timedCondWait(CMPI_COND_TYPE c, CMPI_MUTEX_TYPE m, struct timespec* wait)
    {
        if (c == nullptr || m == nullptr || wait == nullptr) {
            return -1;
        }
        return pthread_cond_timedwait(static_cast<pthread_cond_t*>(c), static_cast<pthread_mutex_t*>(m), wait);
    }

    static int signalCondition(CMPI_COND_TYPE c)
    {
        return c ? pthread_cond_signal(static_cast<pthread_cond_t*>(c)) : -1;
    }
};

HostBroker::HostBroker(bool nullThreadSlots)
{
    bft_ = CMPIBrokerFT{CMPI_MB_Class_0 | CMPI_MB_Supports_IndicationMI | CMPI_MB_OSEncapsulationSupport,
                        CMPIVersion100,
                        "pnlmon-cimhost",
                        BrokerTables::prepareAttachThread,
                        BrokerTables::attachThread,
                        BrokerTables::detachThread,
                        BrokerTables::deliverIndication,
                        BrokerTables::enumerateInstanceNames,
                        BrokerTables::getInstance,
                        BrokerTables::createInstance,
                        BrokerTables::modifyInstance,
                        BrokerTables::deleteInstance,
                        BrokerTables::execQuery,
                        BrokerTables::enumerateInstances,
                        BrokerTables::associators,
                        BrokerTables::associatorNames,
                        BrokerTables::references,
                        BrokerTables::referenceNames,
                        BrokerTables::invokeMethod,
                        BrokerTables::setProperty,
                        BrokerTables::getProperty};
    eft_ = CMPIBrokerEncFT{CMPIVersion100,
                           BrokerTables::newInstance,
                           BrokerTables::newObjectPath,
                           BrokerTables::newArgs,
                           BrokerTables::newString,
                           BrokerTables::newArray,
                           BrokerTables::newDateTime,
                           BrokerTables::newDateTimeFromBinary,
                           BrokerTables::newDateTimeFromChars,
                           BrokerTables::newSelectExp,
                           BrokerTables::classPathIsA,
                           BrokerTables::toString,
                           BrokerTables::isOfType,
                           BrokerTables::getType,
                           BrokerTables::getMessage,
                           BrokerTables::logMessage,
                           BrokerTables::trace};
    xft_ = CMPIBrokerExtFT{CMPIVersion100,
                           BrokerTables::resolveFileName,
                           BrokerTables::newThread,
                           BrokerTables::joinThread,
                           BrokerTables::exitThread,
                           BrokerTables::cancelThread,
                           BrokerTables::threadSleep,
                           BrokerTables::threadOnce,
                           BrokerTables::createThreadKey,
                           BrokerTables::destroyThreadKey,
                           BrokerTables::getThreadSpecific,
                           BrokerTables::setThreadSpecific,
                           BrokerTables::newMutex,
                           BrokerTables::destroyMutex,
                           BrokerTables::lockMutex,
                           BrokerTables::unlockMutex,
                           BrokerTables::newCondition,
                           BrokerTables::destroyCondition,
                           BrokerTables::condWait,
                           BrokerTables::timedCondWait,
                           BrokerTables::signalCondition};
    if (nullThreadSlots) {
        xft_.joinThread = nullptr;
        xft_.exitThread = nullptr;
        xft_.cancelThread = nullptr;
        xft_.threadSleep = nullptr;
        xft_.signalCondition = nullptr;
    }
    broker_.hdl = this;
    broker_.bft = &bft_;
    broker_.eft = &eft_;
    broker_.xft = &xft_;
    scope_ = ObjectRegistry::instance().openScope(*this);
    std::lock_guard<std::mutex> lock(liveMutex);
    liveBrokers.push_back(this);
}

HostBroker::~HostBroker()
{
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveBrokers.erase(std::remove(liveBrokers.begin(), liveBrokers.end(), this), liveBrokers.end());
    }
    ObjectRegistry::instance().closeScope(scope_);
    for (void* m : mutexes_) {
        pthread_mutex_destroy(static_cast<pthread_mutex_t*>(m));
        delete static_cast<pthread_mutex_t*>(m);
    }
    for (void* c : conditions_) {
        pthread_cond_destroy(static_cast<pthread_cond_t*>(c));
        delete static_cast<pthread_cond_t*>(c);
    }
    magic_ = 0;
}

HostBroker* HostBroker::From(const CMPIBroker* mb)
{
    if (mb == nullptr || mb->hdl == nullptr) {
        return nullptr;
    }
    auto* b = static_cast<HostBroker*>(mb->hdl);
    return b->magic_ == kMagic ? b : nullptr;
}

std::uint64_t HostBroker::objectScope() const
{
    return ObjectRegistry::instance().currentScope(*this, scope_);
}

std::size_t HostBroker::scopeObjectCount() const
{
    return ObjectRegistry::instance().objectCount(scope_);
}

void HostBroker::failSetPropertyAt(unsigned n, CMPIrc rc)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failSetPropertyIn_ = n;
    failSetPropertyRc_ = rc;
}

CMPIrc HostBroker::setPropertyFault()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.setPropertyCalls;
    if (failSetPropertyIn_ == 0) {
        return CMPI_RC_OK;
    }
    if (--failSetPropertyIn_ == 0) {
        return failSetPropertyRc_;
    }
    return CMPI_RC_OK;
}

void HostBroker::refuseDeliver(bool on, CMPIrc rc)
{
    std::lock_guard<std::mutex> lock(mutex_);
    refuseDeliver_ = on;
    refuseDeliverRc_ = rc;
}

void HostBroker::delayDeliver(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    deliverDelay_ = delay;
}

void HostBroker::failAttach(bool on, CMPIrc rc)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failAttach_ = on;
    failAttachRc_ = rc;
}

void HostBroker::failNewThread(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failNewThread_ = on;
}

BrokerCounters HostBroker::counters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

bool HostBroker::isAttachScope(std::uint64_t scope) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return scope != 0 && attachScopes_.count(scope) != 0;
}

void HostBroker::endAttachScope(std::uint64_t scope)
{
    std::lock_guard<std::mutex> lock(mutex_);
    attachScopes_.erase(scope);
}

} // namespace cimhost
