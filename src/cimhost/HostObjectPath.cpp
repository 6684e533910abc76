#include "HostObjectPath.h"

#include <strings.h>

namespace cimhost {

const HostValue* HostObjectPath::findKey(const std::string& name) const
{
    for (const auto& k : keys) {
        if (strcasecmp(k.first.c_str(), name.c_str()) == 0) {
            return &k.second;
        }
    }
    return nullptr;
}

void HostObjectPath::setKey(const std::string& name, const HostValue& value)
{
    for (auto& k : keys) {
        if (strcasecmp(k.first.c_str(), name.c_str()) == 0) {
            k.second = value;
            return;
        }
    }
    keys.emplace_back(name, value);
}

std::string HostObjectPath::toString() const
{
    std::string out;
    if (!nameSpace.empty()) {
        out += nameSpace + ":";
    }
    out += className;
    char sep = '.';
    for (const auto& k : keys) {
        out += sep;
        sep = ',';
        out += k.first + "=";
        const HostValue& v = k.second;
        if (v.null) {
            out += "NULL";
        } else if (v.type == CMPI_string) {
            out += "\"" + v.text + "\"";
        } else if (v.type == CMPI_boolean) {
            out += v.boolean ? "TRUE" : "FALSE";
        } else if ((v.type & CMPI_SINT) == CMPI_SINT) {
            out += std::to_string(v.sint);
        } else if (v.type & CMPI_UINT) {
            out += std::to_string(v.uint);
        } else if (v.type == CMPI_ref && v.ref) {
            out += "\"" + v.ref->toString() + "\"";
        } else {
            out += "?";
        }
    }
    return out;
}

} // namespace cimhost
