#include "HostValue.h"

#include "HostInstance.h"

namespace cimhost {

HostValue HostValue::Null(CMPIType type)
{
    HostValue v;
    v.type = v.setType = type;
    v.null = true;
    return v;
}

HostValue HostValue::String(const std::string& text)
{
    HostValue v;
    v.type = v.setType = CMPI_string;
    v.null = false;
    v.text = text;
    return v;
}

HostValue HostValue::NullText()
{
    HostValue v = String("");
    v.nullText = true;
    return v;
}

HostValue HostValue::Boolean(bool value)
{
    HostValue v;
    v.type = v.setType = CMPI_boolean;
    v.null = false;
    v.boolean = value;
    return v;
}

HostValue HostValue::Uint(CMPIType type, std::uint64_t value)
{
    HostValue v;
    v.type = v.setType = type;
    v.null = false;
    v.uint = value;
    return v;
}

HostValue HostValue::Sint(CMPIType type, std::int64_t value)
{
    HostValue v;
    v.type = v.setType = type;
    v.null = false;
    v.sint = value;
    return v;
}

HostValue HostValue::Real(CMPIType type, double value)
{
    HostValue v;
    v.type = v.setType = type;
    v.null = false;
    v.real = value;
    return v;
}

HostValue HostValue::DateTime(std::uint64_t usec, bool interval)
{
    HostValue v;
    v.type = v.setType = CMPI_dateTime;
    v.null = false;
    v.dateTime.usec = usec;
    v.dateTime.interval = interval;
    return v;
}

HostValue HostValue::StringArray(const std::vector<std::string>& texts)
{
    HostValue v;
    v.type = v.setType = CMPI_stringA;
    v.null = false;
    for (const auto& t : texts) {
        v.elements.push_back(String(t));
    }
    return v;
}

HostValue HostValue::Instance(const HostInstance& instance)
{
    HostValue v;
    v.type = v.setType = CMPI_instance;
    v.null = false;
    v.instance = std::make_shared<HostInstance>(instance);
    return v;
}

std::vector<std::string> HostValue::texts() const
{
    std::vector<std::string> out;
    if (isArray() && elementType() == CMPI_string) {
        for (const auto& e : elements) {
            out.push_back(e.text);
        }
    }
    return out;
}

std::string TypeName(CMPIType type)
{
    std::string base;
    switch (type & ~CMPI_ARRAY) {
    case CMPI_null: base = "null"; break;
    case CMPI_boolean: base = "boolean"; break;
    case CMPI_char16: base = "char16"; break;
    case CMPI_real32: base = "real32"; break;
    case CMPI_real64: base = "real64"; break;
    case CMPI_uint8: base = "uint8"; break;
    case CMPI_uint16: base = "uint16"; break;
    case CMPI_uint32: base = "uint32"; break;
    case CMPI_uint64: base = "uint64"; break;
    case CMPI_sint8: base = "sint8"; break;
    case CMPI_sint16: base = "sint16"; break;
    case CMPI_sint32: base = "sint32"; break;
    case CMPI_sint64: base = "sint64"; break;
    case CMPI_instance: base = "instance"; break;
    case CMPI_ref: base = "ref"; break;
    case CMPI_args: base = "args"; break;
    case CMPI_class: base = "class"; break;
    case CMPI_filter: base = "filter"; break;
    case CMPI_enumeration: base = "enumeration"; break;
    case CMPI_string: base = "string"; break;
    case CMPI_chars: base = "chars"; break;
    case CMPI_dateTime: base = "datetime"; break;
    case CMPI_ptr: base = "ptr"; break;
    case CMPI_charsptr: base = "charsptr"; break;
    default: base = "type" + std::to_string(type & ~CMPI_ARRAY); break;
    }
    return (type & CMPI_ARRAY) ? base + "[]" : base;
}

} // namespace cimhost
