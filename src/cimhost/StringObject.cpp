#include "StringObject.h"

#include "HostBroker.h"
#include "ObjectRegistry.h"

#include <memory>

namespace cimhost {

namespace {

CMPIStatus release(CMPIString* s)
{
    return MakeStatus(ObjectRegistry::instance().release(s) ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
}

CMPIString* clone(const CMPIString* s, CMPIStatus* rc)
{
    StringObject* obj = StringObject::From(s);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIString* copy = StringObject::Make(obj->broker(), obj->text, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

char* getCharPtr(const CMPIString* s, CMPIStatus* rc)
{
    StringObject* obj = StringObject::From(s);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    SetStatus(rc, CMPI_RC_OK);
    return static_cast<char*>(obj->cmpi.hdl);
}

CMPIStringFT table = {1, release, clone, getCharPtr};

} // namespace

StringObject::StringObject(HostBroker& broker, const std::string& t) : BrokerObject(broker), text(t)
{
    cmpi.hdl = const_cast<char*>(text.c_str());
    cmpi.ft = &table;
}

CMPIString* StringObject::Make(HostBroker& broker, const std::string& text, std::uint64_t scope)
{
    auto obj = std::make_unique<StringObject>(broker, text);
    CMPIString* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

StringObject* StringObject::From(const CMPIString* s)
{
    return ObjectRegistry::instance().find<StringObject>(s);
}

bool StringObject::TextOf(const CMPIString* s, std::string& text)
{
    StringObject* obj = From(s);
    if (obj == nullptr) {
        text.clear();
        return false;
    }
    text = obj->text;
    return true;
}

} // namespace cimhost
