#include "ArrayObject.h"

#include "CmpiValueCodec.h"
#include "HostBroker.h"
#include "ObjectRegistry.h"

#include <memory>

namespace cimhost {

namespace {

CMPIArray* clone(const CMPIArray* a, CMPIStatus* rc)
{
    ArrayObject* obj = ArrayObject::From(a);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIArray* copy = ArrayObject::Make(obj->broker(), obj->elementType, obj->elements, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPICount getSize(const CMPIArray* a, CMPIStatus* rc)
{
    ArrayObject* obj = ArrayObject::From(a);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj ? static_cast<CMPICount>(obj->elements.size()) : 0;
}

CMPIType getSimpleType(const CMPIArray* a, CMPIStatus* rc)
{
    ArrayObject* obj = ArrayObject::From(a);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj ? obj->elementType : static_cast<CMPIType>(CMPI_null);
}

CMPIData getElementAt(const CMPIArray* a, CMPICount index, CMPIStatus* rc)
{
    ArrayObject* obj = ArrayObject::From(a);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return MakeData(CMPI_null, CMPI_badValue);
    }
    if (index >= obj->elements.size()) {
        SetStatus(rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
        return MakeData(obj->elementType, CMPI_badValue);
    }
    try {
        CMPIData d = CmpiValueCodec::Write(obj->broker(), obj->elements[index]);
        SetStatus(rc, CMPI_RC_OK);
        return d;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return MakeData(obj->elementType, CMPI_badValue);
    }
}

CMPIStatus setElementAt(CMPIArray* a, CMPICount index, const CMPIValue* value, CMPIType type)
{
    ArrayObject* obj = ArrayObject::From(a);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    if (index >= obj->elements.size()) {
        return MakeStatus(CMPI_RC_ERR_NO_SUCH_PROPERTY);
    }
    // CMPI_chars and CMPI_string are interchangeable for a text array.
    if (type != CMPI_null && CmpiValueCodec::Normalize(type) != obj->elementType) {
        return MakeStatus(CMPI_RC_ERR_TYPE_MISMATCH);
    }
    try {
        HostValue v;
        CMPIrc rc = CMPI_RC_OK;
        if (type == CMPI_null) {
            v = HostValue::Null(obj->elementType);
        } else {
            rc = CmpiValueCodec::Read(value, type, v);
        }
        if (rc == CMPI_RC_OK) {
            obj->elements[index] = v;
        }
        return MakeStatus(rc);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIArrayFT table = {1, ReleaseHandle<CMPIArray>, clone, getSize, getSimpleType, getElementAt, setElementAt};

} // namespace

ArrayObject::ArrayObject(HostBroker& broker, CMPIType type, std::vector<HostValue> elems)
    : BrokerObject(broker), elementType(CmpiValueCodec::Normalize(static_cast<CMPIType>(type & ~CMPI_ARRAY))),
      elements(std::move(elems))
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIArray* ArrayObject::Make(HostBroker& broker, CMPIType elementType, std::vector<HostValue> elements,
                             std::uint64_t scope)
{
    auto obj = std::make_unique<ArrayObject>(broker, elementType, std::move(elements));
    CMPIArray* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

ArrayObject* ArrayObject::From(const CMPIArray* a)
{
    return ObjectRegistry::instance().find<ArrayObject>(a);
}

HostValue ArrayObject::toValue() const
{
    HostValue v;
    v.type = v.setType = static_cast<CMPIType>(CMPI_ARRAY | elementType);
    v.null = false;
    v.elements = elements;
    return v;
}

} // namespace cimhost
