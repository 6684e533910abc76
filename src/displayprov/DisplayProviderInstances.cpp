// The provider's instance operations: enumerate names, enumerate instances
// and get, over one shared opening and error path.
#include "DisplayProvider.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "Cmpi.h"
#include "CmpiException.h"
#include "ProviderSupport.h"
#include "TextEscape.h"
#include "log.h"

using displayprov::Status;

namespace {

void ReturnDone(const CMPIResult* result)
{
    if (result != nullptr && result->ft != nullptr && result->ft->returnDone != nullptr) {
        result->ft->returnDone(result);
    }
}

bool UsableResult(const CMPIResult* result)
{
    return result != nullptr && result->ft != nullptr;
}

void ReturnPath(const CMPIResult* result, const CMPIObjectPath* path)
{
    if (result->ft->returnObjectPath == nullptr) {
        Cmpi::Raise(CMPI_RC_ERR_FAILED);
    }
    result->ft->returnObjectPath(result, path);
}

void ReturnInstance(const CMPIResult* result, const CMPIInstance* instance)
{
    if (result->ft->returnInstance == nullptr) {
        Cmpi::Raise(CMPI_RC_ERR_FAILED);
    }
    result->ft->returnInstance(result, instance);
}

// The DeviceID a get asks for. A NULL key, the form in which some CIM
// object managers pass an empty one, reads as empty: neither names a
// monitor.
std::string RequestedDeviceId(const CMPIObjectPath* path)
{
    try {
        return Cmpi::GetCharsKeyValue(path, "DeviceID");
    } catch (const CmpiException& e) {
        if (e.getCode() != CMPI_RC_ERR_INVALID_PARAMETER) {
            throw;
        }
        return std::string();
    }
}

}  // namespace

bool DisplayProvider::isCimV2Namespace(const char* text)
{
    return text != nullptr && strcasecmp(text, displayprov::kNameSpace) == 0;
}

bool DisplayProvider::isQavDisplayClass(const char* text)
{
    return text != nullptr && std::strcmp(text, "QAV_Display") == 0;
}

CMPIStatus DisplayProvider::enumInstanceNames(CMPIInstanceMI*, const CMPIContext*,
                                              const CMPIResult* result,
                                              const CMPIObjectPath* reference)
{
    return enumerate(Enumeration::Names, result, reference);
}

CMPIStatus DisplayProvider::enumInstances(CMPIInstanceMI*, const CMPIContext*,
                                          const CMPIResult* result,
                                          const CMPIObjectPath* reference, const char**)
{
    return enumerate(Enumeration::Instances, result, reference);
}

// The frame shared by the instance operations: a usable result, the
// path's namespace and class, then the operation's body under one error
// path, and returnDone. A namespace or class name the broker cannot give
// leaves its failure status in the answer, and the missing text is not
// read. The body sets answered once it has returned something to the
// result; an operation that answered nothing logs noneText.
template <typename Body>
CMPIStatus DisplayProvider::serve(const char* operation, const char* pathLine,
                                  const char* noneText, const CMPIResult* result,
                                  const CMPIObjectPath* path, Body body)
{
    if (!UsableResult(result)) {
        Log(LEVEL_ERROR, "DisplayProvider::%s - no result object", operation);
        return Status(CMPI_RC_ERR_INVALID_PARAMETER);
    }
    CMPIStatus status = Status(CMPI_RC_OK);
    const char* nameSpace = Cmpi::ReadNameSpace(path, &status);
    const char* className = nullptr;
    if (status.rc == CMPI_RC_OK) {
        className = Cmpi::ReadClassName(path, &status);
    }
    Log(LEVEL_DEBUG, pathLine, TextEscape::ForLog(className).c_str(), TextEscape::ForLog(nameSpace).c_str());

    if (status.rc != CMPI_RC_OK) {
        // keep the broker's status
    } else if (!isCimV2Namespace(nameSpace)) {
        status = Status(CMPI_RC_ERR_INVALID_NAMESPACE);
    } else if (!isQavDisplayClass(className)) {
        status = Status(CMPI_RC_ERR_INVALID_CLASS);
    } else {
        bool answered = false;
        try {
            updateDisplays();
            body(status, answered);
        } catch (const CmpiException& e) {
            Log(LEVEL_ERROR, "DisplayProvider::%s - CMPIStatus %i, %s", operation,
                static_cast<int>(e.getCode()), e.getMessage().c_str());
            status = Status(CMPI_RC_ERR_FAILED);
        } catch (...) {
            Log(LEVEL_ERROR, "DisplayProvider::%s -  Unknown Exception", operation);
            status = Status(CMPI_RC_ERR_FAILED);
        }
        if (!answered) {
            Log(LEVEL_TRACE, "DisplayProvider::%s - %s", operation, noneText);
        }
    }
    ReturnDone(result);
    return status;
}

CMPIStatus DisplayProvider::enumerate(Enumeration kind, const CMPIResult* result,
                                      const CMPIObjectPath* reference)
{
    const bool names = kind == Enumeration::Names;
    const char* operation = names ? "enumerateInstanceNames" : "enumerateInstances";
    const char* pathLine =
        names ? "DisplayProvider::enumInstanceNames - Reference object path: class = %s, namespace = %s\n"
              : "DisplayProvider::enumInstances - Reference object path: class = %s, namespace = %s\n";
    return serve(operation, pathLine, "No instances found", result, reference,
                 [&](CMPIStatus&, bool& answered) {
                     int count = qavDisplays.getNumDisplays();
                     for (int i = 0; i < count; ++i) {
                         QAV_Display* display = qavDisplays.getDisplayAt(i);
                         if (display == nullptr) {
                             continue;
                         }
                         if (names) {
                             ReturnPath(result, display->getObjectPath(broker));
                         } else {
                             ReturnInstance(result, display->getInstance(broker));
                         }
                         answered = true;
                     }
                 });
}

CMPIStatus DisplayProvider::getInstance(CMPIInstanceMI*, const CMPIContext*,
                                        const CMPIResult* result, const CMPIObjectPath* path,
                                        const char**)
{
    return serve("getInstance",
                 "DisplayProvider::getInstance - Object path: class = %s, namespace = %s",
                 "No instance found", result, path, [&](CMPIStatus& status, bool& answered) {
                     int count = qavDisplays.getNumDisplays();
                     std::string requested = count > 0 ? RequestedDeviceId(path) : std::string();
                     for (int i = 0; i < count && !answered && !requested.empty(); ++i) {
                         QAV_Display* display = qavDisplays.getDisplayAt(i);
                         if (display == nullptr) {
                             continue;
                         }
                         // The whole identifier must match, as the client saw it.
                         if (requested == display->getDeviceID()) {
                             ReturnInstance(result, display->getInstance(broker));
                             answered = true;
                         }
                     }
                     if (!answered) {
                         status = Status(CMPI_RC_ERR_NOT_FOUND);
                     }
                 });
}
