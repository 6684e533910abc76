// Static helpers over the broker calls the provider makes. A call whose
// status is tested raises a CmpiException carrying that status when it is
// not CMPI_RC_OK. A missing broker table, function slot or result object is
// raised as CMPI_RC_ERR_FAILED without a message, so a broken CIMOM cannot
// make the provider follow a null pointer.
#ifndef PNLMON_CMPI_H
#define PNLMON_CMPI_H

#include <cstdint>
#include <string>

#include "cmpidt.h"
#include "cmpift.h"

class Cmpi {
public:
    static CMPIObjectPath* MakeNewObjectPath(const CMPIBroker* broker, const char* nameSpace,
                                             const char* className);
    static void AddCharsKey(CMPIObjectPath* path, const char* name, const std::string& text);
    static CMPIInstance* MakeNewInstance(const CMPIBroker* broker, const CMPIObjectPath* path);
    static CMPIArray* MakeNewCharsArray(const CMPIBroker* broker, CMPICount count);
    static void SetCharsArrayElementAt(CMPIArray* array, CMPICount index, const std::string& text);
    static void SetCharsProperty(CMPIInstance* instance, const char* name, const std::string& text);
    static void SetCharsArrayProperty(CMPIInstance* instance, const char* name, CMPIArray* array);
    static void SetBooleanProperty(CMPIInstance* instance, const char* name, bool value);
    static void SetUint16Property(CMPIInstance* instance, const char* name, uint16_t value);
    static void SetUint32Property(CMPIInstance* instance, const char* name, uint32_t value);
    static void SetUint64Property(CMPIInstance* instance, const char* name, uint64_t value);
    static CMPIDateTime* MakeNewDateTime(const CMPIBroker* broker);
    static void SetDateTimeProperty(CMPIInstance* instance, const char* name, CMPIDateTime* dateTime);
    static void SetInstanceProperty(CMPIInstance* instance, const char* name, CMPIInstance* embedded);
    // The text of a string key. Data of a type other than CMPI_string or
    // CMPI_chars raises a status with code CMPI_RC_OK and no message; a
    // null value raises CMPI_RC_ERR_INVALID_PARAMETER.
    static std::string GetCharsKeyValue(const CMPIObjectPath* path, const char* key);
    static void deliverIndication(const CMPIBroker* broker, const CMPIContext* context,
                                  const char* nameSpace, const CMPIInstance* indication);

    // Non-raising readers of a path's namespace and class name: the broker's
    // status lands in *status; the result is null when the text cannot be
    // had (a failed call, a null path or a null string).
    static const char* ReadNameSpace(const CMPIObjectPath* path, CMPIStatus* status);
    static const char* ReadClassName(const CMPIObjectPath* path, CMPIStatus* status);

    // The text of a broker string, or null.
    static const char* CharPtr(const CMPIString* string);

    [[noreturn]] static void Raise(CMPIrc rc);
    static void RaiseIfFailed(const CMPIStatus& status);

private:
    static void SetProperty(CMPIInstance* instance, const char* name, const CMPIValue* value,
                            CMPIType type);
};

#endif
