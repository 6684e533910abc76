#include "InstanceObject.h"

#include "CmpiValueCodec.h"
#include "NamedValues.h"
#include "HostBroker.h"
#include "ObjectPathObject.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <memory>

namespace cimhost {

namespace {

CMPIInstance* clone(const CMPIInstance* i, CMPIStatus* rc)
{
    InstanceObject* obj = InstanceObject::From(i);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIInstance* copy = InstanceObject::Make(obj->broker(), obj->model, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}


CMPIData getProperty(const CMPIInstance* i, const char* name, CMPIStatus* rc)
{
    InstanceObject* obj = InstanceObject::From(i);
    if (obj == nullptr || name == nullptr) {
        SetStatus(rc, obj ? CMPI_RC_ERR_INVALID_PARAMETER : CMPI_RC_ERR_INVALID_HANDLE);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    return NamedValues::Data(obj->broker(), obj->model.find(name), rc);
}

CMPIData getPropertyAt(const CMPIInstance* i, unsigned int index, CMPIString** name, CMPIStatus* rc)
{
    InstanceObject* obj = InstanceObject::From(i);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    return NamedValues::At(obj->broker(), obj->model.properties, index, name, rc);
}

unsigned int getPropertyCount(const CMPIInstance* i, CMPIStatus* rc)
{
    InstanceObject* obj = InstanceObject::From(i);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj ? static_cast<unsigned int>(obj->model.properties.size()) : 0;
}

CMPIStatus setProperty(CMPIInstance* i, const char* name, const CMPIValue* value, CMPIType type)
{
    InstanceObject* obj = InstanceObject::From(i);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    CMPIrc fault = obj->broker().setPropertyFault();
    if (fault != CMPI_RC_OK) {
        return MakeStatus(fault);
    }
    if (name == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    try {
        HostValue v;
        CMPIrc rc = CmpiValueCodec::Read(value, type, v);
        if (rc == CMPI_RC_OK) {
            obj->model.set(name, v);
        }
        return MakeStatus(rc);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIObjectPath* getObjectPath(const CMPIInstance* i, CMPIStatus* rc)
{
    InstanceObject* obj = InstanceObject::From(i);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIObjectPath* op = ObjectPathObject::Make(obj->broker(), obj->model.path);
        SetStatus(rc, CMPI_RC_OK);
        return op;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIStatus setPropertyFilter(CMPIInstance* i, const char** propertyList, const char** keys)
{
    (void)propertyList;
    (void)keys;
    // Every property is kept; the host returns all of them.
    return MakeStatus(InstanceObject::From(i) ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
}

CMPIStatus setObjectPath(CMPIInstance* i, const CMPIObjectPath* op)
{
    InstanceObject* obj = InstanceObject::From(i);
    ObjectPathObject* path = ObjectPathObject::From(op);
    if (obj == nullptr || path == nullptr) {
        return MakeStatus(obj ? CMPI_RC_ERR_INVALID_PARAMETER : CMPI_RC_ERR_INVALID_HANDLE);
    }
    try {
        obj->model.path = path->model;
        return MakeStatus(CMPI_RC_OK);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIInstanceFT table = {1,           ReleaseHandle<CMPIInstance>,      clone,         getProperty,       getPropertyAt,
                        getPropertyCount, setProperty, getObjectPath, setPropertyFilter, setObjectPath};

} // namespace

InstanceObject::InstanceObject(HostBroker& broker, HostInstance m) : BrokerObject(broker), model(std::move(m))
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIInstance* InstanceObject::Make(HostBroker& broker, HostInstance model, std::uint64_t scope)
{
    auto obj = std::make_unique<InstanceObject>(broker, std::move(model));
    CMPIInstance* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

InstanceObject* InstanceObject::From(const CMPIInstance* i)
{
    return ObjectRegistry::instance().find<InstanceObject>(i);
}

} // namespace cimhost
