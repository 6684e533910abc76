#include "SelectExpObject.h"

#include "HostBroker.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <memory>

namespace cimhost {

namespace {

CMPISelectExp* clone(const CMPISelectExp* se, CMPIStatus* rc)
{
    SelectExpObject* obj = SelectExpObject::From(se);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPISelectExp* copy =
            SelectExpObject::Make(obj->broker(), obj->query, obj->language, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIBoolean evaluate(const CMPISelectExp* se, const CMPIInstance*, CMPIStatus* rc)
{
    SetStatus(rc, SelectExpObject::From(se) ? CMPI_RC_ERR_NOT_SUPPORTED : CMPI_RC_ERR_INVALID_HANDLE);
    return 0;
}

CMPIString* getString(const CMPISelectExp* se, CMPIStatus* rc)
{
    SelectExpObject* obj = SelectExpObject::From(se);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIString* s = StringObject::Make(obj->broker(), obj->query);
        SetStatus(rc, CMPI_RC_OK);
        return s;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPISelectCond* getDOC(const CMPISelectExp*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return nullptr;
}

CMPISelectCond* getCOD(const CMPISelectExp*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return nullptr;
}

CMPIBoolean evaluateUsingAccessor(const CMPISelectExp*, CMPIAccessor*, void*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return 0;
}

CMPISelectExpFT table = {1, ReleaseHandle<CMPISelectExp>, clone, evaluate, getString, getDOC, getCOD, evaluateUsingAccessor};

} // namespace

SelectExpObject::SelectExpObject(HostBroker& broker, std::string q, std::string l)
    : BrokerObject(broker), query(std::move(q)), language(std::move(l))
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPISelectExp* SelectExpObject::Make(HostBroker& broker, const std::string& query, const std::string& language,
                                     std::uint64_t scope)
{
    auto obj = std::make_unique<SelectExpObject>(broker, query, language);
    CMPISelectExp* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

SelectExpObject* SelectExpObject::From(const CMPISelectExp* se)
{
    return ObjectRegistry::instance().find<SelectExpObject>(se);
}

} // namespace cimhost
