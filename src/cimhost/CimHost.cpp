#include "CimHost.h"

#include "ContextObject.h"
#include "InstanceObject.h"
#include "ObjectPathObject.h"
#include "ObjectRegistry.h"
#include "ResultObject.h"
#include "SelectExpObject.h"
#include "StringObject.h"

#include <cstdio>
#include <mutex>

namespace cimhost {

namespace {

using GenericInstanceFactory = CMPIInstanceMI* (*)(const CMPIBroker*, const CMPIContext*, const char*, CMPIStatus*);
using InstanceFactory = CMPIInstanceMI* (*)(const CMPIBroker*, const CMPIContext*, CMPIStatus*);
using GenericIndicationFactory = CMPIIndicationMI* (*)(const CMPIBroker*, const CMPIContext*, const char*,
                                                        CMPIStatus*);
using IndicationFactory = CMPIIndicationMI* (*)(const CMPIBroker*, const CMPIContext*, CMPIStatus*);

// Indication MI calls of tables older than 1.0 take a result after the context.
using OldAuthorize = CMPIStatus (*)(CMPIIndicationMI*, const CMPIContext*, const CMPIResult*, const CMPISelectExp*,
                                    const char*, const CMPIObjectPath*, const char*);
using OldMustPoll = CMPIStatus (*)(CMPIIndicationMI*, const CMPIContext*, const CMPIResult*, const CMPISelectExp*,
                                   const char*, const CMPIObjectPath*);
using OldActivate = CMPIStatus (*)(CMPIIndicationMI*, const CMPIContext*, const CMPIResult*, const CMPISelectExp*,
                                   const char*, const CMPIObjectPath*, CMPIBoolean);

enum FilterSlot { kAuthorize, kMustPoll, kActivate, kDeActivate };

// Reinterprets a table slot with the signature an older table had.
template <class To, class From>
To slotAs(From f)
{
    return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(f));
}

HostStatus makeStatus(CMPIrc rc, const std::string& message)
{
    HostStatus st;
    st.rc = rc;
    st.hasMessage = !message.empty();
    st.message = message;
    return st;
}

} // namespace

// One request: its object scope (current on the calling thread while the
// request runs) and its context.
class CimHost::Request {
public:
    Request(CimHost& host, const std::string& ns)
        : broker(*host.broker_), scope(ObjectRegistry::instance().openScope(broker)), active(scope)
    {
        ContextObject::Entries entries;
        entries.emplace_back(CMPIInvocationFlags, HostValue::Uint(CMPI_uint32, 0));
        entries.emplace_back(CMPIPrincipal, HostValue::String(host.options_.principal));
        if (host.options_.initNamespaceEntry && !ns.empty()) {
            entries.emplace_back(CMPIInitNameSpace, HostValue::String(ns));
        }
        ctx = ContextObject::Make(broker, std::move(entries), false, scope);
    }
    ~Request() { ObjectRegistry::instance().closeScope(scope); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    CMPIObjectPath* path(const HostObjectPath& model) { return ObjectPathObject::Make(broker, model, scope); }
    CMPIInstance* instance(const HostInstance& model) { return InstanceObject::Make(broker, model, scope); }
    CMPIResult* result(RequestResult& out) { return ResultObject::Make(broker, out, scope); }
    CMPISelectExp* filter(const std::string& query) { return SelectExpObject::Make(broker, query, "WQL", scope); }

    HostBroker& broker;
    const std::uint64_t scope;
    ObjectRegistry::ThreadScope active;
    CMPIContext* ctx = nullptr;
};

CimHost::CimHost(CimHostOptions options)
    : options_(std::move(options)), broker_(std::make_unique<HostBroker>(options_.nullThreadSlots))
{
}

CimHost::~CimHost()
{
    if (!unload()) {
        // Provider threads still run code of the library and use the broker:
        // keep both alive rather than pull them from under the threads.
        (void)broker_.release();
    }
}

bool CimHost::load(const std::string& path, std::string* error)
{
    unload();
    std::string err;
    if (!library_.open(path, err)) {
        if (error != nullptr) {
            *error = err;
        }
        return false;
    }
    return true;
}

bool CimHost::unload()
{
    if (!library_.isOpen()) {
        return true;
    }
    if (instanceMILoaded()) {
        cleanupInstanceMI(true);
    }
    if (indicationMILoaded()) {
        cleanupIndicationMI(true);
    }
    if (!broker_->threads().waitIdle(options_.threadDrainTimeout)) {
        std::fprintf(stderr, "pnlmon-cimhost: provider threads still running; %s stays loaded\n",
                     library_.path().c_str());
        return false;
    }
    library_.close();
    return true;
}

HostStatus CimHost::loadInstanceMI()
{
    std::unique_lock<std::shared_mutex> lock(miMutex_);
    if (instMI_ != nullptr) {
        return HostStatus();
    }
    if (!library_.isOpen()) {
        return makeStatus(CMPI_RC_ERR_FAILED, "no provider library loaded");
    }
    Request req(*this, "");
    CMPIStatus st = {CMPI_RC_OK, nullptr};
    CMPIInstanceMI* mi = nullptr;
    if (auto generic = reinterpret_cast<GenericInstanceFactory>(library_.symbol("_Generic_Create_InstanceMI"))) {
        mi = generic(broker_->cmpi(), req.ctx, options_.providerName.c_str(), &st);
    } else if (auto factory = reinterpret_cast<InstanceFactory>(
                   library_.symbol(options_.providerName + "_Create_InstanceMI"))) {
        mi = factory(broker_->cmpi(), req.ctx, &st);
    } else {
        return makeStatus(CMPI_RC_ERR_NOT_FOUND, "no " + options_.providerName + "_Create_InstanceMI in " +
                                                     library_.path());
    }
    ++instFactoryCalls_;
    if (mi == nullptr || st.rc != CMPI_RC_OK || mi->ft == nullptr) {
        HostStatus out = statusOf(st);
        if (out.rc == CMPI_RC_OK) {
            out = makeStatus(CMPI_RC_ERR_FAILED, "instance MI factory returned no MI");
        }
        return out;
    }
    instMI_ = mi;
    return HostStatus();
}

HostStatus CimHost::loadIndicationMI()
{
    std::unique_lock<std::shared_mutex> lock(miMutex_);
    if (indMI_ != nullptr) {
        return HostStatus();
    }
    if (!library_.isOpen()) {
        return makeStatus(CMPI_RC_ERR_FAILED, "no provider library loaded");
    }
    Request req(*this, "");
    CMPIStatus st = {CMPI_RC_OK, nullptr};
    CMPIIndicationMI* mi = nullptr;
    if (auto generic =
            reinterpret_cast<GenericIndicationFactory>(library_.symbol("_Generic_Create_IndicationMI"))) {
        mi = generic(broker_->cmpi(), req.ctx, options_.providerName.c_str(), &st);
    } else if (auto factory = reinterpret_cast<IndicationFactory>(
                   library_.symbol(options_.providerName + "_Create_IndicationMI"))) {
        mi = factory(broker_->cmpi(), req.ctx, &st);
    } else {
        return makeStatus(CMPI_RC_ERR_NOT_FOUND, "no " + options_.providerName + "_Create_IndicationMI in " +
                                                     library_.path());
    }
    ++indFactoryCalls_;
    if (mi == nullptr || st.rc != CMPI_RC_OK || mi->ft == nullptr) {
        HostStatus out = statusOf(st);
        if (out.rc == CMPI_RC_OK) {
            out = makeStatus(CMPI_RC_ERR_FAILED, "indication MI factory returned no MI");
        }
        return out;
    }
    indMI_ = mi;
    return HostStatus();
}

bool CimHost::instanceMILoaded() const
{
    std::shared_lock<std::shared_mutex> lock(miMutex_);
    return instMI_ != nullptr;
}

bool CimHost::indicationMILoaded() const
{
    std::shared_lock<std::shared_mutex> lock(miMutex_);
    return indMI_ != nullptr;
}

unsigned CimHost::instanceFactoryCalls() const
{
    std::shared_lock<std::shared_mutex> lock(miMutex_);
    return instFactoryCalls_;
}

unsigned CimHost::indicationFactoryCalls() const
{
    std::shared_lock<std::shared_mutex> lock(miMutex_);
    return indFactoryCalls_;
}

HostStatus CimHost::statusOf(const CMPIStatus& st) const
{
    HostStatus out;
    out.rc = st.rc;
    if (st.msg != nullptr) {
        out.hasMessage = true;
        if (!StringObject::TextOf(st.msg, out.message)) {
            out.message = "(message is not a string of this broker)";
        }
    }
    return out;
}

RequestResult CimHost::runInstance(const InstanceCall& call)
{
    RequestResult out;
    // The MI may be cleaned up between loading it and the call: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        {
            std::shared_lock<std::shared_mutex> lock(miMutex_);
            if (instMI_ != nullptr) {
                Request req(*this, "");
                CMPIResult* rslt = req.result(out);
                CMPIStatus st = call(instMI_, req.ctx, rslt, req);
                out.status = statusOf(st); // before the request's objects go
                return out;
            }
        }
        HostStatus loaded = loadInstanceMI();
        if (!loaded.ok()) {
            out.status = loaded;
            return out;
        }
    }
    out.status = makeStatus(CMPI_RC_ERR_FAILED, "instance MI unloaded while requests were pending");
    return out;
}

HostStatus CimHost::runIndication(const IndicationCall& call)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        {
            std::shared_lock<std::shared_mutex> lock(miMutex_);
            if (indMI_ != nullptr) {
                Request req(*this, "");
                CMPIStatus st = call(indMI_, req.ctx, req);
                return statusOf(st);
            }
        }
        HostStatus loaded = loadIndicationMI();
        if (!loaded.ok()) {
            return loaded;
        }
    }
    return makeStatus(CMPI_RC_ERR_FAILED, "indication MI unloaded while requests were pending");
}

RequestResult CimHost::enumerateInstanceNames(const std::string& ns, const std::string& cls)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        HostObjectPath p;
        p.nameSpace = ns;
        p.className = cls;
        return mi->ft->enumInstanceNames(mi, ctx, rslt, req.path(p));
    });
}

RequestResult CimHost::enumerateInstances(const std::string& ns, const std::string& cls,
                                          const std::vector<std::string>* properties)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        HostObjectPath p;
        p.nameSpace = ns;
        p.className = cls;
        std::vector<const char*> list;
        if (properties != nullptr) {
            for (const auto& name : *properties) {
                list.push_back(name.c_str());
            }
            list.push_back(nullptr);
        }
        return mi->ft->enumInstances(mi, ctx, rslt, req.path(p), properties ? list.data() : nullptr);
    });
}

RequestResult CimHost::getInstance(const std::string& ns, const std::string& cls, const std::string& keyName,
                                   const std::string& keyValue, CMPIType keyType)
{
    HostObjectPath p;
    p.nameSpace = ns;
    p.className = cls;
    HostValue key = HostValue::String(keyValue);
    key.setType = keyType == CMPI_string ? CMPI_string : CMPI_chars;
    p.keys.emplace_back(keyName, key);
    return getInstance(p);
}

RequestResult CimHost::getInstance(const std::string& ns, const std::string& cls, const std::string& keyName,
                                   const HostValue& key)
{
    HostObjectPath p;
    p.nameSpace = ns;
    p.className = cls;
    p.keys.emplace_back(keyName, key);
    return getInstance(p);
}

RequestResult CimHost::getInstance(const HostObjectPath& path)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        return mi->ft->getInstance(mi, ctx, rslt, req.path(path), nullptr);
    });
}

RequestResult CimHost::createInstance(const HostObjectPath& classPath, const HostInstance& instance)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        return mi->ft->createInstance(mi, ctx, rslt, req.path(classPath), req.instance(instance));
    });
}

RequestResult CimHost::modifyInstance(const HostObjectPath& path, const HostInstance& instance)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        return mi->ft->modifyInstance(mi, ctx, rslt, req.path(path), req.instance(instance), nullptr);
    });
}

RequestResult CimHost::deleteInstance(const HostObjectPath& path)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        return mi->ft->deleteInstance(mi, ctx, rslt, req.path(path));
    });
}

RequestResult CimHost::execQuery(const HostObjectPath& classPath, const std::string& query,
                                 const std::string& language)
{
    return runInstance([&](CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt, Request& req) {
        return mi->ft->execQuery(mi, ctx, rslt, req.path(classPath), query.c_str(), language.c_str());
    });
}

HostStatus CimHost::filterCall(const std::string& cls, const std::string& query, int slot, bool flag,
                               const std::string& owner)
{
    return runIndication([&](CMPIIndicationMI* mi, const CMPIContext* ctx, Request& req) {
        HostObjectPath p;
        p.nameSpace = options_.nameSpace;
        p.className = cls;
        CMPIObjectPath* classPath = req.path(p);
        CMPISelectExp* filter = req.filter(query.empty() ? "SELECT * FROM " + cls : query);
        const CMPIBoolean b = flag ? 1 : 0;
        const bool old = mi->ft->ftVersion < CMPIVersion100;
        RequestResult ignored;
        const CMPIResult* rslt = old ? req.result(ignored) : nullptr;
        switch (slot) {
        case kAuthorize:
            if (old) {
                return slotAs<OldAuthorize>(mi->ft->authorizeFilter)(mi, ctx, rslt, filter, cls.c_str(),
                                                                                classPath, owner.c_str());
            }
            return mi->ft->authorizeFilter(mi, ctx, filter, cls.c_str(), classPath, owner.c_str());
        case kMustPoll:
            if (old) {
                return slotAs<OldMustPoll>(mi->ft->mustPoll)(mi, ctx, rslt, filter, cls.c_str(), classPath);
            }
            return mi->ft->mustPoll(mi, ctx, filter, cls.c_str(), classPath);
        case kActivate:
            if (old) {
                return slotAs<OldActivate>(mi->ft->activateFilter)(mi, ctx, rslt, filter, cls.c_str(),
                                                                              classPath, b);
            }
            return mi->ft->activateFilter(mi, ctx, filter, cls.c_str(), classPath, b);
        default:
            if (old) {
                return slotAs<OldActivate>(mi->ft->deActivateFilter)(mi, ctx, rslt, filter, cls.c_str(),
                                                                                classPath, b);
            }
            return mi->ft->deActivateFilter(mi, ctx, filter, cls.c_str(), classPath, b);
        }
    });
}

HostStatus CimHost::authorizeFilter(const std::string& cls, const std::string& query, const std::string& owner)
{
    return filterCall(cls, query, kAuthorize, false, owner);
}

HostStatus CimHost::mustPoll(const std::string& cls, const std::string& query)
{
    return filterCall(cls, query, kMustPoll, false, "");
}

HostStatus CimHost::activateFilter(const std::string& cls, bool firstActivation, const std::string& query)
{
    return filterCall(cls, query, kActivate, firstActivation, "");
}

HostStatus CimHost::deActivateFilter(const std::string& cls, bool lastActivation, const std::string& query)
{
    return filterCall(cls, query, kDeActivate, lastActivation, "");
}

bool CimHost::enableDisable(bool enable)
{
    bool called = false;
    runIndication([&](CMPIIndicationMI* mi, const CMPIContext* ctx, Request&) {
        // Both slots exist since 0.86; the value they return is not looked at.
        if (mi->ft->ftVersion >= CMPIVersion086) {
            auto fn = enable ? mi->ft->enableIndications : mi->ft->disableIndications;
            if (fn != nullptr) {
                fn(mi, ctx);
                called = true;
            }
        }
        return CMPIStatus{CMPI_RC_OK, nullptr};
    });
    return called;
}

bool CimHost::enableIndications()
{
    return enableDisable(true);
}

bool CimHost::disableIndications()
{
    return enableDisable(false);
}

HostStatus CimHost::cleanup(bool instance, bool terminating)
{
    std::unique_lock<std::shared_mutex> lock(miMutex_);
    if (instance ? instMI_ == nullptr : indMI_ == nullptr) {
        return makeStatus(CMPI_RC_ERR_NOT_FOUND, instance ? "instance MI not loaded" : "indication MI not loaded");
    }
    Request req(*this, "");
    const CMPIBoolean t = terminating ? 1 : 0;
    CMPIStatus st = instance ? instMI_->ft->cleanup(instMI_, req.ctx, t) : indMI_->ft->cleanup(indMI_, req.ctx, t);
    HostStatus out = statusOf(st);
    // A veto (or a failure) keeps an idle MI; at termination it goes anyway.
    if (terminating || out.rc == CMPI_RC_OK) {
        if (instance) {
            instMI_ = nullptr;
        } else {
            indMI_ = nullptr;
        }
    }
    return out;
}

HostStatus CimHost::idleUnload()
{
    std::unique_lock<std::shared_mutex> lock(miMutex_);
    Request req(*this, "");
    HostStatus refusal;
    if (instMI_ != nullptr) {
        HostStatus out = statusOf(instMI_->ft->cleanup(instMI_, req.ctx, 0));
        if (out.rc != CMPI_RC_OK) {
            refusal = out;
        }
    }
    if (indMI_ != nullptr) {
        HostStatus out = statusOf(indMI_->ft->cleanup(indMI_, req.ctx, 0));
        if (out.rc != CMPI_RC_OK && refusal.rc == CMPI_RC_OK) {
            refusal = out;
        }
    }
    if (refusal.rc == CMPI_RC_OK) {
        instMI_ = nullptr;
        indMI_ = nullptr;
    }
    return refusal;
}

HostStatus CimHost::restartWithSubscriptions(const std::function<void()>& whileDown,
                                             const std::vector<std::string>& filterClasses)
{
    if (!library_.isOpen()) {
        return makeStatus(CMPI_RC_ERR_FAILED, "no provider library loaded");
    }
    const std::string path = library_.path();
    if (!unload()) {
        return makeStatus(CMPI_RC_ERR_FAILED, "provider threads still running; not restarted");
    }
    if (whileDown) {
        whileDown();
    }
    std::string error;
    if (!load(path, &error)) {
        return makeStatus(CMPI_RC_ERR_FAILED, error);
    }
    HostStatus status = loadInstanceMI();
    if (status.ok()) {
        status = loadIndicationMI();
    }
    bool first = true;
    for (const std::string& cls : filterClasses) {
        if (!status.ok()) {
            break;
        }
        status = activateFilter(cls, first);
        first = false;
    }
    if (status.ok()) {
        // Called where the MI has it (ftVersion 86 and later), as the object
        // managers do.
        enableIndications();
    }
    return status;
}

HostStatus CimHost::cleanupInstanceMI(bool terminating)
{
    return cleanup(true, terminating);
}

HostStatus CimHost::cleanupIndicationMI(bool terminating)
{
    return cleanup(false, terminating);
}

std::string CimHost::RcName(int rc)
{
    switch (rc) {
    case CMPI_RC_OK: return "CMPI_RC_OK";
    case CMPI_RC_ERR_FAILED: return "CMPI_RC_ERR_FAILED";
    case CMPI_RC_ERR_ACCESS_DENIED: return "CMPI_RC_ERR_ACCESS_DENIED";
    case CMPI_RC_ERR_INVALID_NAMESPACE: return "CMPI_RC_ERR_INVALID_NAMESPACE";
    case CMPI_RC_ERR_INVALID_PARAMETER: return "CMPI_RC_ERR_INVALID_PARAMETER";
    case CMPI_RC_ERR_INVALID_CLASS: return "CMPI_RC_ERR_INVALID_CLASS";
    case CMPI_RC_ERR_NOT_FOUND: return "CMPI_RC_ERR_NOT_FOUND";
    case CMPI_RC_ERR_NOT_SUPPORTED: return "CMPI_RC_ERR_NOT_SUPPORTED";
    case CMPI_RC_ERR_CLASS_HAS_CHILDREN: return "CMPI_RC_ERR_CLASS_HAS_CHILDREN";
    case CMPI_RC_ERR_CLASS_HAS_INSTANCES: return "CMPI_RC_ERR_CLASS_HAS_INSTANCES";
    case CMPI_RC_ERR_INVALID_SUPERCLASS: return "CMPI_RC_ERR_INVALID_SUPERCLASS";
    case CMPI_RC_ERR_ALREADY_EXISTS: return "CMPI_RC_ERR_ALREADY_EXISTS";
    case CMPI_RC_ERR_NO_SUCH_PROPERTY: return "CMPI_RC_ERR_NO_SUCH_PROPERTY";
    case CMPI_RC_ERR_TYPE_MISMATCH: return "CMPI_RC_ERR_TYPE_MISMATCH";
    case CMPI_RC_ERR_QUERY_LANGUAGE_NOT_SUPPORTED: return "CMPI_RC_ERR_QUERY_LANGUAGE_NOT_SUPPORTED";
    case CMPI_RC_ERR_INVALID_QUERY: return "CMPI_RC_ERR_INVALID_QUERY";
    case CMPI_RC_ERR_METHOD_NOT_AVAILABLE: return "CMPI_RC_ERR_METHOD_NOT_AVAILABLE";
    case CMPI_RC_ERR_METHOD_NOT_FOUND: return "CMPI_RC_ERR_METHOD_NOT_FOUND";
    case CMPI_RC_DO_NOT_UNLOAD: return "CMPI_RC_DO_NOT_UNLOAD";
    case CMPI_RC_NEVER_UNLOAD: return "CMPI_RC_NEVER_UNLOAD";
    case CMPI_RC_ERR_INVALID_HANDLE: return "CMPI_RC_ERR_INVALID_HANDLE";
    case CMPI_RC_ERR_INVALID_DATA_TYPE: return "CMPI_RC_ERR_INVALID_DATA_TYPE";
    case CMPI_RC_ERROR_SYSTEM: return "CMPI_RC_ERROR_SYSTEM";
    case CMPI_RC_ERROR: return "CMPI_RC_ERROR";
    default: return "CMPI_RC_" + std::to_string(rc);
    }
}

} // namespace cimhost
