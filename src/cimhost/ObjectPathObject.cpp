#include "ObjectPathObject.h"

#include "CmpiValueCodec.h"
#include "NamedValues.h"
#include "HostBroker.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <memory>

namespace cimhost {

namespace {

CMPIObjectPath* clone(const CMPIObjectPath* op, CMPIStatus* rc)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIObjectPath* copy = ObjectPathObject::Make(obj->broker(), obj->model, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIStatus setText(CMPIObjectPath* op, const char* text, std::string HostObjectPath::*field)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    try {
        obj->model.*field = text ? text : "";
        return MakeStatus(CMPI_RC_OK);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIString* getText(const CMPIObjectPath* op, CMPIStatus* rc, std::string HostObjectPath::*field)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIString* s = StringObject::Make(obj->broker(), obj->model.*field);
        SetStatus(rc, CMPI_RC_OK);
        return s;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIStatus setNameSpace(CMPIObjectPath* op, const char* ns)
{
    return setText(op, ns, &HostObjectPath::nameSpace);
}

CMPIString* getNameSpace(const CMPIObjectPath* op, CMPIStatus* rc)
{
    return getText(op, rc, &HostObjectPath::nameSpace);
}

CMPIStatus setHostname(CMPIObjectPath* op, const char* hn)
{
    return setText(op, hn, &HostObjectPath::hostName);
}

CMPIString* getHostname(const CMPIObjectPath* op, CMPIStatus* rc)
{
    return getText(op, rc, &HostObjectPath::hostName);
}

CMPIStatus setClassName(CMPIObjectPath* op, const char* cn)
{
    return setText(op, cn, &HostObjectPath::className);
}

CMPIString* getClassName(const CMPIObjectPath* op, CMPIStatus* rc)
{
    return getText(op, rc, &HostObjectPath::className);
}

CMPIStatus addKey(CMPIObjectPath* op, const char* name, const CMPIValue* value, CMPIType type)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    if (name == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    try {
        HostValue v;
        CMPIrc rc = CmpiValueCodec::Read(value, type, v);
        if (rc == CMPI_RC_OK) {
            obj->model.setKey(name, v);
        }
        return MakeStatus(rc);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}


CMPIData getKey(const CMPIObjectPath* op, const char* name, CMPIStatus* rc)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr || name == nullptr) {
        SetStatus(rc, obj ? CMPI_RC_ERR_INVALID_PARAMETER : CMPI_RC_ERR_INVALID_HANDLE);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    return NamedValues::Data(obj->broker(), obj->model.findKey(name), rc, CMPI_RC_ERR_NOT_FOUND, CMPI_keyValue);
}

CMPIData getKeyAt(const CMPIObjectPath* op, unsigned int index, CMPIString** name, CMPIStatus* rc)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    return NamedValues::At(obj->broker(), obj->model.keys, index, name, rc, CMPI_RC_ERR_NOT_FOUND, CMPI_keyValue);
}

unsigned int getKeyCount(const CMPIObjectPath* op, CMPIStatus* rc)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj ? static_cast<unsigned int>(obj->model.keys.size()) : 0;
}

CMPIStatus copyFrom(CMPIObjectPath* op, const CMPIObjectPath* src, bool withHost)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    ObjectPathObject* from = ObjectPathObject::From(src);
    if (obj == nullptr || from == nullptr) {
        return MakeStatus(obj ? CMPI_RC_ERR_INVALID_PARAMETER : CMPI_RC_ERR_INVALID_HANDLE);
    }
    try {
        obj->model.nameSpace = from->model.nameSpace;
        if (withHost) {
            obj->model.hostName = from->model.hostName;
        }
        return MakeStatus(CMPI_RC_OK);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIStatus setNameSpaceFromObjectPath(CMPIObjectPath* op, const CMPIObjectPath* src)
{
    return copyFrom(op, src, false);
}

CMPIStatus setHostAndNameSpaceFromObjectPath(CMPIObjectPath* op, const CMPIObjectPath* src)
{
    return copyFrom(op, src, true);
}

// The host keeps no class repository: qualifiers are not available.
CMPIData getClassQualifier(const CMPIObjectPath*, const char*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return MakeData(CMPI_null, CMPI_nullValue);
}

CMPIData getPropertyQualifier(const CMPIObjectPath*, const char*, const char*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return MakeData(CMPI_null, CMPI_nullValue);
}

CMPIData getMethodQualifier(const CMPIObjectPath*, const char*, const char*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return MakeData(CMPI_null, CMPI_nullValue);
}

CMPIData getParameterQualifier(const CMPIObjectPath*, const char*, const char*, const char*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return MakeData(CMPI_null, CMPI_nullValue);
}

CMPIString* toString(const CMPIObjectPath* op, CMPIStatus* rc)
{
    ObjectPathObject* obj = ObjectPathObject::From(op);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIString* s = StringObject::Make(obj->broker(), obj->model.toString());
        SetStatus(rc, CMPI_RC_OK);
        return s;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIObjectPathFT table = {1,
                          ReleaseHandle<CMPIObjectPath>,
                          clone,
                          setNameSpace,
                          getNameSpace,
                          setHostname,
                          getHostname,
                          setClassName,
                          getClassName,
                          addKey,
                          getKey,
                          getKeyAt,
                          getKeyCount,
                          setNameSpaceFromObjectPath,
                          setHostAndNameSpaceFromObjectPath,
                          getClassQualifier,
                          getPropertyQualifier,
                          getMethodQualifier,
                          getParameterQualifier,
                          toString};

} // namespace

ObjectPathObject::ObjectPathObject(HostBroker& broker, HostObjectPath m) : BrokerObject(broker), model(std::move(m))
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIObjectPath* ObjectPathObject::Make(HostBroker& broker, HostObjectPath model, std::uint64_t scope)
{
    auto obj = std::make_unique<ObjectPathObject>(broker, std::move(model));
    CMPIObjectPath* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

ObjectPathObject* ObjectPathObject::From(const CMPIObjectPath* op)
{
    return ObjectRegistry::instance().find<ObjectPathObject>(op);
}

} // namespace cimhost
