// An object path (namespace, class name and key bindings) as plain data.
#pragma once

#include "HostValue.h"

#include <string>
#include <utility>
#include <vector>

namespace cimhost {

struct HostObjectPath {
    std::string hostName;
    std::string nameSpace;
    std::string className;
    std::vector<std::pair<std::string, HostValue>> keys; // in the order added

    const HostValue* findKey(const std::string& name) const; // name compared case-insensitively
    void setKey(const std::string& name, const HostValue& value);

    // "ns:Class.Key=\"value\",..." (keys as text, numbers plain).
    std::string toString() const;
};

} // namespace cimhost
