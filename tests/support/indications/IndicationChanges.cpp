#include "IndicationChanges.h"

std::vector<std::string> IndicationChanges::Of(const std::vector<cimhost::HostIndication>& indications)
{
    std::vector<std::string> out;
    for (const auto& ind : indications) {
        const cimhost::HostValue* source = ind.instance.find("SourceInstance");
        const cimhost::HostValue* id =
            source != nullptr && source->instance ? source->instance->find("DeviceID") : nullptr;
        out.push_back((ind.instance.className() == "CIM_InstCreation" ? "+" : "-") +
                      (id != nullptr ? id->text : std::string("?")));
    }
    return out;
}
