#include "HostInstance.h"

#include <strings.h>

namespace cimhost {

const HostValue* HostInstance::find(const std::string& name) const
{
    for (const auto& p : properties) {
        if (strcasecmp(p.first.c_str(), name.c_str()) == 0) {
            return &p.second;
        }
    }
    return nullptr;
}

void HostInstance::set(const std::string& name, const HostValue& value)
{
    for (auto& p : properties) {
        if (strcasecmp(p.first.c_str(), name.c_str()) == 0) {
            p.second = value;
            return;
        }
    }
    properties.emplace_back(name, value);
}

std::vector<std::string> HostInstance::propertyNames() const
{
    std::vector<std::string> names;
    for (const auto& p : properties) {
        names.push_back(p.first);
    }
    return names;
}

} // namespace cimhost
