#include "Cmpi.h"

#include "CmpiException.h"
#include "log.h"

namespace {
CMPIStatus OkStatus()
{
    CMPIStatus status;
    status.rc = CMPI_RC_OK;
    status.msg = nullptr;
    return status;
}

const CMPIBrokerEncFT* Enc(const CMPIBroker* broker)
{
    if (broker == nullptr || broker->eft == nullptr) {
        Cmpi::Raise(CMPI_RC_ERR_FAILED);
    }
    return broker->eft;
}
}

void Cmpi::Raise(CMPIrc rc)
{
    throw CmpiException(rc, nullptr);
}

void Cmpi::RaiseIfFailed(const CMPIStatus& status)
{
    if (status.rc != CMPI_RC_OK) {
        throw CmpiException(status);
    }
}

CMPIObjectPath* Cmpi::MakeNewObjectPath(const CMPIBroker* broker, const char* nameSpace,
                                        const char* className)
{
    const CMPIBrokerEncFT* eft = Enc(broker);
    if (eft->newObjectPath == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIStatus status = OkStatus();
    CMPIObjectPath* path = eft->newObjectPath(broker, nameSpace, className, &status);
    RaiseIfFailed(status);
    if (path == nullptr || path->ft == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    return path;
}

void Cmpi::AddCharsKey(CMPIObjectPath* path, const char* name, const std::string& text)
{
    if (path == nullptr || path->ft == nullptr || path->ft->addKey == nullptr) {
        return;
    }
    path->ft->addKey(path, name, reinterpret_cast<const CMPIValue*>(text.c_str()), CMPI_chars);
}

CMPIInstance* Cmpi::MakeNewInstance(const CMPIBroker* broker, const CMPIObjectPath* path)
{
    const CMPIBrokerEncFT* eft = Enc(broker);
    if (eft->newInstance == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIStatus status = OkStatus();
    CMPIInstance* instance = eft->newInstance(broker, path, &status);
    RaiseIfFailed(status);
    if (instance == nullptr || instance->ft == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    return instance;
}

CMPIArray* Cmpi::MakeNewCharsArray(const CMPIBroker* broker, CMPICount count)
{
    const CMPIBrokerEncFT* eft = Enc(broker);
    if (eft->newArray == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIStatus status = OkStatus();
    CMPIArray* array = eft->newArray(broker, count, CMPI_chars, &status);
    RaiseIfFailed(status);
    if (array == nullptr || array->ft == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    return array;
}

void Cmpi::SetCharsArrayElementAt(CMPIArray* array, CMPICount index, const std::string& text)
{
    if (array == nullptr || array->ft == nullptr || array->ft->setElementAt == nullptr) {
        return;
    }
    array->ft->setElementAt(array, index, reinterpret_cast<const CMPIValue*>(text.c_str()),
                            CMPI_chars);
}

void Cmpi::SetProperty(CMPIInstance* instance, const char* name, const CMPIValue* value,
                       CMPIType type)
{
    if (instance == nullptr || instance->ft == nullptr || instance->ft->setProperty == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    RaiseIfFailed(instance->ft->setProperty(instance, name, value, type));
}

void Cmpi::SetCharsProperty(CMPIInstance* instance, const char* name, const std::string& text)
{
    SetProperty(instance, name, reinterpret_cast<const CMPIValue*>(text.c_str()), CMPI_chars);
}

void Cmpi::SetCharsArrayProperty(CMPIInstance* instance, const char* name, CMPIArray* array)
{
    CMPIValue value;
    value.array = array;
    SetProperty(instance, name, &value, CMPI_charsA);
}

void Cmpi::SetBooleanProperty(CMPIInstance* instance, const char* name, bool value)
{
    CMPIValue data;
    data.uint64 = 0;
    data.boolean = value ? 1 : 0;
    SetProperty(instance, name, &data, CMPI_boolean);
}

void Cmpi::SetUint16Property(CMPIInstance* instance, const char* name, uint16_t value)
{
    CMPIValue data;
    data.uint64 = 0;
    data.uint16 = value;
    SetProperty(instance, name, &data, CMPI_uint16);
}

void Cmpi::SetUint32Property(CMPIInstance* instance, const char* name, uint32_t value)
{
    CMPIValue data;
    data.uint64 = 0;
    data.uint32 = value;
    SetProperty(instance, name, &data, CMPI_uint32);
}

void Cmpi::SetUint64Property(CMPIInstance* instance, const char* name, uint64_t value)
{
    CMPIValue data;
    data.uint64 = value;
    SetProperty(instance, name, &data, CMPI_uint64);
}

CMPIDateTime* Cmpi::MakeNewDateTime(const CMPIBroker* broker)
{
    const CMPIBrokerEncFT* eft = Enc(broker);
    if (eft->newDateTime == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIStatus status = OkStatus();
    CMPIDateTime* dateTime = eft->newDateTime(broker, &status);
    RaiseIfFailed(status);
    if (dateTime == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    return dateTime;
}

void Cmpi::SetDateTimeProperty(CMPIInstance* instance, const char* name, CMPIDateTime* dateTime)
{
    CMPIValue value;
    value.dateTime = dateTime;
    SetProperty(instance, name, &value, CMPI_dateTime);
}

void Cmpi::SetInstanceProperty(CMPIInstance* instance, const char* name, CMPIInstance* embedded)
{
    if (instance == nullptr || instance->ft == nullptr || instance->ft->setProperty == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIValue value;
    value.inst = embedded;
    CMPIStatus status = instance->ft->setProperty(instance, name, &value, CMPI_instance);
    if (status.rc != CMPI_RC_OK) {
        Log(LEVEL_ERROR, "Cmpi::SetInstanceProperty status.rc=%d, 0x%08x",
            static_cast<int>(status.rc), static_cast<unsigned>(status.rc));
        throw CmpiException(status);
    }
}

const char* Cmpi::CharPtr(const CMPIString* string)
{
    if (string == nullptr || string->ft == nullptr || string->ft->getCharPtr == nullptr) {
        return nullptr;
    }
    return string->ft->getCharPtr(string, nullptr);
}

std::string Cmpi::GetCharsKeyValue(const CMPIObjectPath* path, const char* key)
{
    if (path == nullptr || path->ft == nullptr || path->ft->getKey == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    CMPIStatus status = OkStatus();
    CMPIData data = path->ft->getKey(path, key, &status);
    RaiseIfFailed(status);
    if (data.type != CMPI_string && data.type != CMPI_chars) {
        Raise(CMPI_RC_OK);
    }
    if ((data.state & CMPI_nullValue) != 0) {
        Raise(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    const char* text = nullptr;
    if (data.type == CMPI_chars) {
        text = data.value.chars;
    } else {
        CMPIString* string = data.value.string;
        if (string == nullptr || string->ft == nullptr || string->ft->getCharPtr == nullptr) {
            Raise(CMPI_RC_ERR_INVALID_PARAMETER);
        }
        status = OkStatus();
        text = string->ft->getCharPtr(string, &status);
        RaiseIfFailed(status);
    }
    if (text == nullptr) {
        Raise(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    return std::string(text);
}

void Cmpi::deliverIndication(const CMPIBroker* broker, const CMPIContext* context,
                             const char* nameSpace, const CMPIInstance* indication)
{
    if (broker == nullptr || broker->bft == nullptr || broker->bft->deliverIndication == nullptr) {
        Raise(CMPI_RC_ERR_FAILED);
    }
    RaiseIfFailed(broker->bft->deliverIndication(broker, context, nameSpace, indication));
}

const char* Cmpi::ReadNameSpace(const CMPIObjectPath* path, CMPIStatus* status)
{
    if (path == nullptr || path->ft == nullptr || path->ft->getNameSpace == nullptr) {
        status->rc = CMPI_RC_ERR_INVALID_PARAMETER;
        status->msg = nullptr;
        return nullptr;
    }
    CMPIString* text = path->ft->getNameSpace(path, status);
    if (status->rc != CMPI_RC_OK) {
        return nullptr;
    }
    return CharPtr(text);
}

const char* Cmpi::ReadClassName(const CMPIObjectPath* path, CMPIStatus* status)
{
    if (path == nullptr || path->ft == nullptr || path->ft->getClassName == nullptr) {
        status->rc = CMPI_RC_ERR_INVALID_PARAMETER;
        status->msg = nullptr;
        return nullptr;
    }
    CMPIString* text = path->ft->getClassName(path, status);
    if (status->rc != CMPI_RC_OK) {
        return nullptr;
    }
    return CharPtr(text);
}
