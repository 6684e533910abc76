#include "CmpiValueCodec.h"

#include "ArrayObject.h"
#include "DateTimeObject.h"
#include "HostBroker.h"
#include "InstanceObject.h"
#include "ObjectPathObject.h"
#include "StringObject.h"

#include <cstring>
#include <memory>

namespace cimhost {

namespace {

// Reads exactly sizeof(T) bytes: the provider may pass the address of a
// variable of that type rather than of a whole CMPIValue.
template <class T>
T load(const CMPIValue* value)
{
    T out;
    std::memcpy(&out, value, sizeof out);
    return out;
}

} // namespace

CMPIType CmpiValueCodec::Normalize(CMPIType type)
{
    CMPIType base = static_cast<CMPIType>(type & ~CMPI_ARRAY);
    if (base == CMPI_chars || base == CMPI_charsptr) {
        base = CMPI_string;
    }
    return static_cast<CMPIType>((type & CMPI_ARRAY) | base);
}

CMPIrc CmpiValueCodec::Read(const CMPIValue* value, CMPIType type, HostValue& out)
{
    out = HostValue();
    out.setType = type;
    out.type = Normalize(type);
    out.null = true;
    if (type == CMPI_null || value == nullptr) {
        return CMPI_RC_OK;
    }
    if (type & CMPI_ARRAY) {
        const CMPIArray* arr = load<CMPIArray*>(value);
        if (arr == nullptr) {
            return CMPI_RC_OK;
        }
        ArrayObject* a = ArrayObject::From(arr);
        if (a == nullptr) {
            return CMPI_RC_ERR_INVALID_HANDLE;
        }
        out.elements = a->elements;
        // The array object knows its element type; a text array set with
        // CMPI_charsA reads back as CMPI_stringA.
        out.type = static_cast<CMPIType>(CMPI_ARRAY | a->elementType);
        out.null = false;
        return CMPI_RC_OK;
    }
    out.null = false;
    switch (type) {
    case CMPI_boolean: out.boolean = load<CMPIBoolean>(value) != 0; break;
    case CMPI_char16: out.uint = load<CMPIChar16>(value); break;
    case CMPI_uint8: out.uint = load<CMPIUint8>(value); break;
    case CMPI_uint16: out.uint = load<CMPIUint16>(value); break;
    case CMPI_uint32: out.uint = load<CMPIUint32>(value); break;
    case CMPI_uint64: out.uint = load<CMPIUint64>(value); break;
    case CMPI_sint8: out.sint = load<CMPISint8>(value); break;
    case CMPI_sint16: out.sint = load<CMPISint16>(value); break;
    case CMPI_sint32: out.sint = load<CMPISint32>(value); break;
    case CMPI_sint64: out.sint = load<CMPISint64>(value); break;
    case CMPI_real32: out.real = load<CMPIReal32>(value); break;
    case CMPI_real64: out.real = load<CMPIReal64>(value); break;
    case CMPI_chars:
        // The pointer passed is the text itself.
        out.text = reinterpret_cast<const char*>(value);
        break;
    case CMPI_charsptr: {
        const char* text = load<const char*>(value);
        if (text == nullptr) {
            out.null = true;
        } else {
            out.text = text;
        }
        break;
    }
    case CMPI_string: {
        const CMPIString* s = load<CMPIString*>(value);
        if (s == nullptr) {
            out.null = true;
        } else if (!StringObject::TextOf(s, out.text)) {
            return CMPI_RC_ERR_INVALID_HANDLE;
        }
        break;
    }
    case CMPI_instance: {
        const CMPIInstance* i = load<CMPIInstance*>(value);
        if (i == nullptr) {
            out.null = true;
            break;
        }
        InstanceObject* obj = InstanceObject::From(i);
        if (obj == nullptr) {
            return CMPI_RC_ERR_INVALID_HANDLE;
        }
        out.instance = std::make_shared<HostInstance>(obj->model);
        break;
    }
    case CMPI_ref: {
        const CMPIObjectPath* op = load<CMPIObjectPath*>(value);
        if (op == nullptr) {
            out.null = true;
            break;
        }
        ObjectPathObject* obj = ObjectPathObject::From(op);
        if (obj == nullptr) {
            return CMPI_RC_ERR_INVALID_HANDLE;
        }
        out.ref = std::make_shared<HostObjectPath>(obj->model);
        break;
    }
    case CMPI_dateTime: {
        const CMPIDateTime* dt = load<CMPIDateTime*>(value);
        if (dt == nullptr) {
            out.null = true;
            break;
        }
        DateTimeObject* obj = DateTimeObject::From(dt);
        if (obj == nullptr) {
            return CMPI_RC_ERR_INVALID_HANDLE;
        }
        out.dateTime.usec = obj->usec;
        out.dateTime.interval = obj->interval;
        break;
    }
    default:
        // args, class, filter, enumeration, ptr: not stored by this host.
        out = HostValue();
        return CMPI_RC_ERR_NOT_SUPPORTED;
    }
    return CMPI_RC_OK;
}

CMPIData CmpiValueCodec::Write(HostBroker& broker, const HostValue& v)
{
    CMPIData d = MakeData(v.type, v.null ? CMPI_nullValue : CMPI_goodValue);
    if (v.null) {
        return d;
    }
    if (v.isArray()) {
        d.value.array = ArrayObject::Make(broker, v.elementType(), v.elements);
        return d;
    }
    switch (v.type) {
    case CMPI_boolean: d.value.boolean = v.boolean ? 1 : 0; break;
    case CMPI_char16: d.value.char16 = static_cast<CMPIChar16>(v.uint); break;
    case CMPI_uint8: d.value.uint8 = static_cast<CMPIUint8>(v.uint); break;
    case CMPI_uint16: d.value.uint16 = static_cast<CMPIUint16>(v.uint); break;
    case CMPI_uint32: d.value.uint32 = static_cast<CMPIUint32>(v.uint); break;
    case CMPI_uint64: d.value.uint64 = v.uint; break;
    case CMPI_sint8: d.value.sint8 = static_cast<CMPISint8>(v.sint); break;
    case CMPI_sint16: d.value.sint16 = static_cast<CMPISint16>(v.sint); break;
    case CMPI_sint32: d.value.sint32 = static_cast<CMPISint32>(v.sint); break;
    case CMPI_sint64: d.value.sint64 = v.sint; break;
    case CMPI_real32: d.value.real32 = static_cast<CMPIReal32>(v.real); break;
    case CMPI_real64: d.value.real64 = v.real; break;
    case CMPI_string: d.value.string = v.nullText ? nullptr : StringObject::Make(broker, v.text); break;
    case CMPI_instance:
        d.value.inst = v.instance ? InstanceObject::Make(broker, *v.instance) : nullptr;
        break;
    case CMPI_ref: d.value.ref = v.ref ? ObjectPathObject::Make(broker, *v.ref) : nullptr; break;
    case CMPI_dateTime:
        d.value.dateTime = DateTimeObject::Make(broker, v.dateTime.usec, v.dateTime.interval);
        break;
    default:
        d.state = CMPI_nullValue;
        break;
    }
    if ((v.type == CMPI_instance && !v.instance) || (v.type == CMPI_ref && !v.ref)) {
        d.state = CMPI_nullValue;
    }
    return d;
}

} // namespace cimhost
