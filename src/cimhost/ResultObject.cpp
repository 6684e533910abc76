#include "ResultObject.h"

#include "CmpiValueCodec.h"
#include "HostBroker.h"
#include "InstanceObject.h"
#include "ObjectPathObject.h"
#include "ObjectRegistry.h"

#include <memory>

namespace cimhost {

namespace {

// A result belongs to its request and cannot outlive it.
CMPIResult* clone(const CMPIResult*, CMPIStatus* rc)
{
    SetStatus(rc, CMPI_RC_ERR_NOT_SUPPORTED);
    return nullptr;
}

template <class F>
CMPIStatus collect(const CMPIResult* r, F add)
{
    ResultObject* obj = ResultObject::From(r);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    try {
        std::lock_guard<std::mutex> lock(obj->mutex);
        CMPIrc rc = add(obj->out);
        if (rc == CMPI_RC_OK && obj->out.done) {
            ++obj->out.itemsAfterDone;
        }
        return MakeStatus(rc);
    } catch (...) {
        return MakeStatus(CMPI_RC_ERR_FAILED);
    }
}

CMPIStatus returnData(const CMPIResult* r, const CMPIValue* value, CMPIType type)
{
    return collect(r, [&](RequestResult& out) {
        HostValue v;
        CMPIrc rc = CmpiValueCodec::Read(value, type, v);
        if (rc == CMPI_RC_OK) {
            out.data.push_back(v);
        }
        return rc;
    });
}

CMPIStatus returnInstance(const CMPIResult* r, const CMPIInstance* inst)
{
    return collect(r, [&](RequestResult& out) {
        InstanceObject* i = InstanceObject::From(inst);
        if (i == nullptr) {
            return CMPI_RC_ERR_INVALID_PARAMETER;
        }
        out.instances.push_back(i->model);
        return CMPI_RC_OK;
    });
}

CMPIStatus returnObjectPath(const CMPIResult* r, const CMPIObjectPath* ref)
{
    return collect(r, [&](RequestResult& out) {
        ObjectPathObject* p = ObjectPathObject::From(ref);
        if (p == nullptr) {
            return CMPI_RC_ERR_INVALID_PARAMETER;
        }
        out.paths.push_back(p->model);
        return CMPI_RC_OK;
    });
}

CMPIStatus returnDone(const CMPIResult* r)
{
    ResultObject* obj = ResultObject::From(r);
    if (obj == nullptr) {
        return MakeStatus(CMPI_RC_ERR_INVALID_HANDLE);
    }
    std::lock_guard<std::mutex> lock(obj->mutex);
    obj->out.done = true;
    ++obj->out.doneCalls;
    return MakeStatus(CMPI_RC_OK);
}

CMPIResultFT table = {1, ReleaseHandle<CMPIResult>, clone, returnData, returnInstance, returnObjectPath, returnDone};

} // namespace

ResultObject::ResultObject(HostBroker& broker, RequestResult& o) : BrokerObject(broker), out(o)
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIResult* ResultObject::Make(HostBroker& broker, RequestResult& out, std::uint64_t scope)
{
    auto obj = std::make_unique<ResultObject>(broker, out);
    CMPIResult* res = &obj->cmpi;
    return ObjectRegistry::instance().adopt(std::move(obj), scope) ? res : nullptr;
}

ResultObject* ResultObject::From(const CMPIResult* r)
{
    return ObjectRegistry::instance().find<ResultObject>(r);
}

} // namespace cimhost
