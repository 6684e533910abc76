#include "HostFormatter.h"

#include "CimHost.h"
#include "DateTimeObject.h"

#include <cstdio>
#include <sstream>

namespace cimhost {

namespace {

std::string pad(int indent)
{
    return std::string(static_cast<std::size_t>(indent) * 4, ' ');
}

std::string real(double v)
{
    std::ostringstream os;
    os.precision(17);
    os << v;
    return os.str();
}

} // namespace

std::string HostFormatter::Quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string HostFormatter::MofValue(const HostValue& v, int indent)
{
    if (v.null) {
        return "NULL";
    }
    if (v.isArray()) {
        std::string out = "{";
        for (std::size_t i = 0; i < v.elements.size(); ++i) {
            out += (i ? ", " : "") + MofValue(v.elements[i], indent);
        }
        return out + "}";
    }
    switch (v.type) {
    case CMPI_boolean: return v.boolean ? "TRUE" : "FALSE";
    case CMPI_char16:
    case CMPI_uint8:
    case CMPI_uint16:
    case CMPI_uint32:
    case CMPI_uint64: return std::to_string(v.uint);
    case CMPI_sint8:
    case CMPI_sint16:
    case CMPI_sint32:
    case CMPI_sint64: return std::to_string(v.sint);
    case CMPI_real32:
    case CMPI_real64: return real(v.real);
    case CMPI_string: return Quote(v.text);
    case CMPI_dateTime: return Quote(DateTimeObject::Format(v.dateTime.usec, v.dateTime.interval));
    case CMPI_ref: return v.ref ? Quote(v.ref->toString()) : "NULL";
    case CMPI_instance: {
        if (!v.instance) {
            return "NULL";
        }
        std::string text = Mof(*v.instance, indent);
        // Drop the leading indentation and the closing ";\n": the caller
        // writes "Name = " before and ";" after.
        text = text.substr(static_cast<std::size_t>(indent) * 4);
        return text.substr(0, text.size() - 2);
    }
    default: return "(" + TypeName(v.type) + ")";
    }
}

std::string HostFormatter::Mof(const HostInstance& instance, int indent)
{
    std::string out = pad(indent) + "instance of " + instance.className() + "\n" + pad(indent) + "{\n";
    for (const auto& p : instance.properties) {
        out += pad(indent + 1) + p.first + " = " + MofValue(p.second, indent + 1) + ";\n";
    }
    return out + pad(indent) + "};\n";
}

nlohmann::json HostFormatter::Json(const HostValue& v)
{
    if (v.null) {
        return nullptr;
    }
    if (v.isArray()) {
        nlohmann::json a = nlohmann::json::array();
        for (const auto& e : v.elements) {
            a.push_back(Json(e));
        }
        return a;
    }
    switch (v.type) {
    case CMPI_boolean: return v.boolean;
    case CMPI_char16:
    case CMPI_uint8:
    case CMPI_uint16:
    case CMPI_uint32:
    case CMPI_uint64: return v.uint;
    case CMPI_sint8:
    case CMPI_sint16:
    case CMPI_sint32:
    case CMPI_sint64: return v.sint;
    case CMPI_real32:
    case CMPI_real64: return v.real;
    case CMPI_string: return v.text;
    case CMPI_dateTime: return DateTimeObject::Format(v.dateTime.usec, v.dateTime.interval);
    case CMPI_ref: return v.ref ? nlohmann::json(v.ref->toString()) : nlohmann::json(nullptr);
    case CMPI_instance: return v.instance ? Json(*v.instance) : nlohmann::json(nullptr);
    default: return "(" + TypeName(v.type) + ")";
    }
}

nlohmann::json HostFormatter::Json(const HostInstance& instance)
{
    nlohmann::json props = nlohmann::json::object();
    for (const auto& p : instance.properties) {
        props[p.first] = Json(p.second);
    }
    return {{"class", instance.className()}, {"namespace", instance.nameSpace()}, {"properties", props}};
}

nlohmann::json HostFormatter::Json(const HostObjectPath& path)
{
    nlohmann::json keys = nlohmann::json::object();
    for (const auto& k : path.keys) {
        keys[k.first] = Json(k.second);
    }
    return {{"namespace", path.nameSpace}, {"class", path.className}, {"keys", keys}, {"path", path.toString()}};
}

nlohmann::json HostFormatter::Json(const HostStatus& status)
{
    nlohmann::json j = {{"code", static_cast<int>(status.rc)}, {"name", CimHost::RcName(status.rc)}};
    j["message"] = status.hasMessage ? nlohmann::json(status.message) : nlohmann::json(nullptr);
    return j;
}

nlohmann::json HostFormatter::Json(const HostIndication& indication)
{
    return {{"namespace", indication.nameSpace},
            {"attached", indication.attached},
            {"indication", Json(indication.instance)}};
}

} // namespace cimhost
