#include "ArgsObject.h"

#include "CmpiValueCodec.h"
#include "NamedValues.h"
#include "HostBroker.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <memory>
#include <strings.h>

namespace cimhost {

namespace {

CMPIArgs* clone(const CMPIArgs* a, CMPIStatus* rc)
{
    ArgsObject* obj = ArgsObject::From(a);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIArgs* copy = ArgsObject::Make(obj->broker(), obj->broker().scope());
        ArgsObject* target = ArgsObject::From(copy);
        if (target == nullptr) {
            SetStatus(rc, CMPI_RC_ERR_FAILED);
            return nullptr;
        }
        target->args = obj->args;
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIStatus addArg(const CMPIArgs* a, const char* name, const CMPIValue* value, CMPIType type)
{
    ArgsObject* obj = ArgsObject::From(a);
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
        for (auto& e : obj->args) {
            if (strcasecmp(e.first.c_str(), name) == 0) {
                e.second = v;
                return MakeStatus(CMPI_RC_OK);
            }
        }
        obj->args.emplace_back(name, v);
        return MakeStatus(CMPI_RC_OK);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}



CMPIArgsFT table = {1, ReleaseHandle<CMPIArgs>, clone,
    addArg,
    NamedValues::Get<ArgsObject, CMPIArgs, &ArgsObject::args>,
    NamedValues::GetAt<ArgsObject, CMPIArgs, &ArgsObject::args>,
    NamedValues::Count<ArgsObject, CMPIArgs, &ArgsObject::args>};

} // namespace

ArgsObject::ArgsObject(HostBroker& broker) : BrokerObject(broker)
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIArgs* ArgsObject::Make(HostBroker& broker, std::uint64_t scope)
{
    auto obj = std::make_unique<ArgsObject>(broker);
    CMPIArgs* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

ArgsObject* ArgsObject::From(const CMPIArgs* a)
{
    return ObjectRegistry::instance().find<ArgsObject>(a);
}

} // namespace cimhost
