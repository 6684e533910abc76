// A CIM instance as plain data: class, path and properties in set order.
#pragma once

#include "HostObjectPath.h"
#include "HostValue.h"

#include <string>
#include <utility>
#include <vector>

namespace cimhost {

struct HostInstance {
    HostObjectPath path; // the path the instance was created on (namespace, class, keys)
    std::vector<std::pair<std::string, HostValue>> properties; // in the order first set

    const std::string& className() const { return path.className; }
    const std::string& nameSpace() const { return path.nameSpace; }

    const HostValue* find(const std::string& name) const; // name compared case-insensitively
    bool has(const std::string& name) const { return find(name) != nullptr; }
    // Replaces the value in place when the property exists, else appends it.
    void set(const std::string& name, const HostValue& value);
    std::vector<std::string> propertyNames() const;
};

} // namespace cimhost
