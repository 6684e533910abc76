// Renders host values readably: MOF-like text and JSON.
#pragma once

#include "HostInstance.h"
#include "HostObjectPath.h"
#include "HostValue.h"
#include "IndicationQueue.h"
#include "RequestResult.h"

#include <nlohmann/json.hpp>

#include <string>

namespace cimhost {

class HostFormatter {
public:
    // "instance of Class\n{\n    Name = value;\n    ...\n};\n", nested for
    // embedded instances.
    static std::string Mof(const HostInstance& instance, int indent = 0);
    // A value as MOF text: "text" (escaped), 12, TRUE, {"a", "b"}, NULL ...
    static std::string MofValue(const HostValue& value, int indent = 0);
    static std::string Path(const HostObjectPath& path) { return path.toString(); }

    static nlohmann::json Json(const HostValue& value);
    static nlohmann::json Json(const HostInstance& instance);
    static nlohmann::json Json(const HostObjectPath& path);
    static nlohmann::json Json(const HostStatus& status);
    static nlohmann::json Json(const HostIndication& indication);

    // Escapes quotes, backslashes and control characters for a MOF string.
    static std::string Quote(const std::string& text);
};

} // namespace cimhost
