// The provider's indication side: filter checks and the subscription
// count, the driver's arrival and departure calls, and the broker threads
// that build and deliver the lifecycle indications.
#include "DisplayProvider.h"

#include <pthread.h>

#include <cstring>
#include <memory>

#include "Cmpi.h"
#include "CmpiException.h"
#include "IndicateArgs.h"
#include "IndicationThreads.h"
#include "ProviderSupport.h"
#include "TextEscape.h"
#include "log.h"

using displayprov::kNameSpace;
using displayprov::Status;

extern "C" {
static CMPI_THREAD_RETURN CMPI_THREAD_CDECL indicateThread(void* parameter);
}

bool DisplayProvider::isQavDisplayIndicationClass(const char* text)
{
    return text != nullptr &&
           (std::strcmp(text, "CIM_InstCreation") == 0 || std::strcmp(text, "CIM_InstDeletion") == 0);
}

CMPIStatus DisplayProvider::checkFilterClass(const char* operation, const CMPIObjectPath* classPath,
                                             std::string& className) const
{
    CMPIStatus status = Status(CMPI_RC_OK);
    const char* text = Cmpi::ReadClassName(classPath, &status);
    Log(LEVEL_DEBUG, "DisplayProvider::%s - Object path: class = %s", operation,
        TextEscape::ForLog(text).c_str());
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (!isQavDisplayIndicationClass(text)) {
        return Status(CMPI_RC_ERR_INVALID_CLASS);
    }
    className = text;
    return status;
}

int32_t DisplayProvider::countSubscriptions(const char* operation, int32_t change)
{
    Log(LEVEL_DEBUG, "DisplayProvider::%s - previous activeIndSubscriptions=%i", operation,
        activeIndSubscriptions);
    activeIndSubscriptions += change;
    if (activeIndSubscriptions < 0) {
        // More ends than starts (a terminating cleanup with no subscription
        // left, a repeated deactivation): nothing is active, and the filters
        // activated later must count from zero.
        Log(LEVEL_DEBUG, "DisplayProvider::%s - no active subscription to end", operation);
        activeIndSubscriptions = 0;
    }
    Log(LEVEL_DEBUG, "DisplayProvider::%s - current activeIndSubscriptions=%i", operation,
        activeIndSubscriptions);
    return activeIndSubscriptions;
}

CMPIStatus DisplayProvider::authorizeFilter(CMPIIndicationMI*, const CMPIContext*,
                                            const CMPISelectExp*, const char*,
                                            const CMPIObjectPath* classPath, const char*)
{
    std::string className;
    return checkFilterClass("authorizeFilter", classPath, className);
}

CMPIStatus DisplayProvider::mustPoll(CMPIIndicationMI*, const CMPIContext*, const CMPISelectExp*,
                                     const char*, const CMPIObjectPath*)
{
    LogQuick(LEVEL_DEBUG, "DisplayProvider::mustPoll - not supported");
    return Status(CMPI_RC_ERR_NOT_SUPPORTED);
}

CMPIStatus DisplayProvider::activateFilter(CMPIIndicationMI*, const CMPIContext* context,
                                           const CMPISelectExp*, const char*,
                                           const CMPIObjectPath* classPath,
                                           CMPIBoolean firstActivation)
{
    std::string className;
    CMPIStatus status = checkFilterClass("activateFilter", classPath, className);
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (firstActivation) {
        Log(LEVEL_DEBUG, "DisplayProvider::activateFilter - First activation of %s",
            className.c_str());
    }
    if (countSubscriptions("activateFilter", 1) > 1) {
        return status;
    }
    if (indCtx == nullptr && broker != nullptr && broker->bft != nullptr &&
        broker->bft->prepareAttachThread != nullptr) {
        indCtx = broker->bft->prepareAttachThread(broker, context);
        Log(LEVEL_DEBUG, "Indication Thread Context: indCtx=%p", static_cast<const void*>(indCtx));
    }
    if (displayApi != nullptr) {
        displayApi->setDisplayListener(this);
        listening = true;
        takeBaseline("the first subscription");
        updateAnnouncements();
    }
    return status;
}

CMPIStatus DisplayProvider::deActivateFilter(CMPIIndicationMI*, const CMPIContext*,
                                             const CMPISelectExp*, const char*,
                                             const CMPIObjectPath* classPath,
                                             CMPIBoolean lastActivation)
{
    std::string className;
    CMPIStatus status = checkFilterClass("deActivateFilter", classPath, className);
    if (status.rc != CMPI_RC_OK) {
        return status;
    }
    if (lastActivation) {
        Log(LEVEL_DEBUG, "DisplayProvider::deActivateFilter - Last deActiviation of %s",
            className.c_str());
    }
    if (countSubscriptions("deActivateFilter", -1) <= 0) {
        indicationsEnabled = false;
        if (displayApi != nullptr) {
            displayApi->clearDisplayListener();
        }
        listening = false;
        updateAnnouncements();
    }
    return status;
}

void DisplayProvider::enableIndications(CMPIIndicationMI* mi, const CMPIContext* context)
{
    Log(LEVEL_DEBUG, "DisplayProvider::enableIndications(%p,%p)", static_cast<void*>(mi),
        static_cast<const void*>(context));
    indicationsEnabled = true;
    updateAnnouncements();
}

void DisplayProvider::disableIndications(CMPIIndicationMI* mi, const CMPIContext* context)
{
    Log(LEVEL_DEBUG, "DisplayProvider::disableIndications(%p,%p)", static_cast<void*>(mi),
        static_cast<const void*>(context));
    indicationsEnabled = false;
    updateAnnouncements();
}

void DisplayProvider::indicationCleanup()
{
    if (countSubscriptions("indicationCleanup", -1) > 0) {
        return;
    }
    LogQuick(LEVEL_DEBUG, "DisplayProvider::indicationCleanup - Cleaning up indication variables");
    indicationsEnabled = false;
    if (displayApi != nullptr) {
        displayApi->clearDisplayListener();
    }
    listening = false;
    updateAnnouncements();
}

void DisplayProvider::DisplayCreated(DisplayInformation info)
{
    // Called from inside the driver: nothing may escape back into it.
    try {
        Log(LEVEL_DEBUG, "DisplayProvider::DisplayCreated(%s,%s,%s)",
            TextEscape::ForLog(info.physicalDeviceName).c_str(), TextEscape::ForLog(info.modelName).c_str(),
            TextEscape::ForLog(info.serialNumber).c_str());
        reportChange(0, info);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::DisplayCreated -  Unknown Exception");
    }
}

void DisplayProvider::DisplayDeleted(DisplayInformation info)
{
    try {
        Log(LEVEL_DEBUG, "DisplayProvider::DisplayDeleted(%s,%s,%s)",
            TextEscape::ForLog(info.physicalDeviceName).c_str(), TextEscape::ForLog(info.modelName).c_str(),
            TextEscape::ForLog(info.serialNumber).c_str());
        reportChange(1, info);
    } catch (...) {
        LogQuick(LEVEL_ERROR, "DisplayProvider::DisplayDeleted -  Unknown Exception");
    }
}

void DisplayProvider::reportChange(int32_t type, const DisplayInformation& info)
{
    if (!indicationsEnabled || awaitingBaseline) {
        return;
    }
    std::unique_ptr<QAV_Display> display(new QAV_Display());
    qavDisplays.populateDisplay(display.get(), info);
    sendLifecycleIndication(type, display.release());
}

void DisplayProvider::sendLifecycleIndication(int32_t type, QAV_Display* display)
{
    std::unique_ptr<QAV_Display> owned(display);
    if (!owned) {
        return;
    }
    Log(LEVEL_DEBUG, "DisplayProvider::sendLifecycleIndication(%i,%s)", type,
        TextEscape::ForLog(owned->getDeviceID()).c_str());
    std::unique_ptr<IndicateArgs> args(new IndicateArgs{broker, indCtx, type, owned.get()});
    CMPI_THREAD_TYPE thread = nullptr;
    IndicationThreads::starting();
    if (broker != nullptr && broker->xft != nullptr && broker->xft->newThread != nullptr) {
        thread = broker->xft->newThread(indicateThread, args.get(), 1);
    }
    if (thread == nullptr) {
        IndicationThreads::ended();
        // No thread took the record: it and the display are freed here.
        Log(LEVEL_ERROR,
            "DisplayProvider::sendLifecycleIndication - newThread failed, indication for %s dropped",
            TextEscape::ForLog(owned->getDeviceID()).c_str());
    } else {
        args.release();
        owned.release();
    }
    LogQuick(LEVEL_DEBUG, "DisplayProvider::sendLifecycleIndication - exit");
}

std::string DisplayProvider::ModelPath(const std::string& deviceId)
{
    std::string path = "root/cimv2:QAV_Display.DeviceID=\"";
    for (char c : deviceId) {
        if (c == '\\' || c == '"') {
            path += '\\';
        }
        path += c;
    }
    path += '"';
    return path;
}

// Builds and delivers one lifecycle indication on a detached broker thread.
// Touches no provider state: everything comes in the argument record, which
// the thread frees together with the display. Counted in IndicationThreads
// from before its start to its end.
static CMPI_THREAD_RETURN CMPI_THREAD_CDECL indicateThread(void* parameter)
{
    IndicateArgs* args = static_cast<IndicateArgs*>(parameter);
    if (args == nullptr) {
        IndicationThreads::ended();
        return 0;
    }
    try {
        const CMPIBroker* broker = args->broker;
        const QAV_Display* display = args->display;
        Log(LEVEL_DEBUG, "IndicateThread - 0x%p", reinterpret_cast<void*>(pthread_self()));
        Log(LEVEL_DEBUG, "IndicateThread - type=%i, deviceID=%s, ind_ctx=%p, broker=%p", args->type,
            TextEscape::ForLog(display != nullptr ? display->getDeviceID() : std::string()).c_str(),
            static_cast<const void*>(args->ind_ctx), static_cast<const void*>(broker));

        const CMPIBrokerFT* bft = broker != nullptr ? broker->bft : nullptr;
        CMPIContext* context = nullptr;
        CMPIStatus attached = Status(CMPI_RC_ERR_FAILED);
        if (bft != nullptr && bft->prepareAttachThread != nullptr && bft->attachThread != nullptr) {
            context = bft->prepareAttachThread(broker, args->ind_ctx);
            if (context != nullptr) {
                attached = bft->attachThread(broker, context);
            }
        }
        if (attached.rc != CMPI_RC_OK) {
            Log(LEVEL_ERROR, "indicateThread - CMAttachThread: CMPIStatus %i",
                static_cast<int>(attached.rc));
            if (context != nullptr && context->ft != nullptr && context->ft->release != nullptr) {
                context->ft->release(context);
            }
        } else {
            try {
                if (display == nullptr) {
                    Cmpi::Raise(CMPI_RC_ERR_FAILED);
                }
                CMPIInstance* instance = display->getInstance(broker);
                Log(LEVEL_DEBUG, "Indication instance type=%d", args->type);
                CMPIObjectPath* path;
                if (args->type != 0) {
                    LogQuick(LEVEL_DEBUG, "DELETION: Making a CIM_InstDeletion");
                    path = Cmpi::MakeNewObjectPath(broker, kNameSpace, "CIM_InstDeletion");
                } else {
                    LogQuick(LEVEL_DEBUG, "CREATION: Making a CIM_InstCreation");
                    path = Cmpi::MakeNewObjectPath(broker, kNameSpace, "CIM_InstCreation");
                }
                CMPIInstance* indication = Cmpi::MakeNewInstance(broker, path);
                Cmpi::SetInstanceProperty(indication, "SourceInstance", instance);
                LogQuick(LEVEL_DEBUG, "Object created and display instance embedded");
                Cmpi::SetCharsProperty(indication, "SourceInstanceModelPath",
                                       DisplayProvider::ModelPath(display->getDeviceID()));
                CMPIDateTime* now = Cmpi::MakeNewDateTime(broker);
                Cmpi::SetDateTimeProperty(indication, "IndicationTime", now);
                Cmpi::deliverIndication(broker, context, kNameSpace, indication);
            } catch (const CmpiException& e) {
                Log(LEVEL_ERROR, "indicateThread - CMPIStatus %i, %s", static_cast<int>(e.getCode()),
                    e.getMessage().c_str());
            } catch (...) {
                LogQuick(LEVEL_ERROR, "indicateThread - Unknown Exception");
            }
            if (bft->detachThread != nullptr) {
                bft->detachThread(broker, context);
            }
        }
    } catch (...) {
        LogQuick(LEVEL_ERROR, "indicateThread - Unknown Exception");
    }
    delete args->display;
    delete args;
    LogQuick(LEVEL_DEBUG, "IndicateThread - Exit");
    // The last step: a terminating cleanup may return, and the library be
    // unloaded, as soon as this count drops.
    IndicationThreads::ended();
    return 0;
}
