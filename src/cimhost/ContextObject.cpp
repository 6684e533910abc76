#include "ContextObject.h"

#include "CmpiValueCodec.h"
#include "NamedValues.h"
#include "HostBroker.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <memory>
#include <strings.h>

namespace cimhost {

namespace {

CMPIContext* clone(const CMPIContext* c, CMPIStatus* rc)
{
    ContextObject* obj = ContextObject::From(c);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIContext* copy = ContextObject::Make(obj->broker(), obj->entries, false, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}



CMPIStatus addEntry(CMPIContext* c, const char* name, const CMPIValue* value, CMPIType type)
{
    ContextObject* obj = ContextObject::From(c);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    if (name == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    try {
        HostValue v;
        CMPIrc rc = CmpiValueCodec::Read(value, type, v);
        if (rc != CMPI_RC_OK) {
            return MakeStatus(rc);
        }
        for (auto& e : obj->entries) {
            if (strcasecmp(e.first.c_str(), name) == 0) {
                e.second = v;
                return MakeStatus(CMPI_RC_OK);
            }
        }
        obj->entries.emplace_back(name, v);
        return MakeStatus(CMPI_RC_OK);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIContextFT table = {1, ReleaseHandle<CMPIContext>, clone,
    NamedValues::Get<ContextObject, CMPIContext, &ContextObject::entries>,
    NamedValues::GetAt<ContextObject, CMPIContext, &ContextObject::entries>,
    NamedValues::Count<ContextObject, CMPIContext, &ContextObject::entries>, addEntry};

} // namespace

ContextObject::ContextObject(HostBroker& broker, Entries e, bool p)
    : BrokerObject(broker), entries(std::move(e)), prepared(p)
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

ContextObject::~ContextObject()
{
    // A prepared context released without detaching still frees what its
    // thread made while attached.
    if (attachScope != 0) {
        broker().endAttachScope(attachScope);
        ObjectRegistry::instance().closeScope(attachScope);
    }
}

CMPIContext* ContextObject::Make(HostBroker& broker, Entries entries, bool prepared, std::uint64_t scope)
{
    auto obj = std::make_unique<ContextObject>(broker, std::move(entries), prepared);
    CMPIContext* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

ContextObject* ContextObject::From(const CMPIContext* c)
{
    return ObjectRegistry::instance().find<ContextObject>(c);
}

} // namespace cimhost
