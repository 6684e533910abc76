// The CMPI provider of class QAV_Display: one object shared by the instance
// MI and the indication MI, owning the driver front end and the display
// cache, and listening to the driver for monitor arrivals and departures.
// The C entry points (factories, MI tables, drv... functions) live in
// ProviderEntryPoints.cpp; the instance operations in
// DisplayProviderInstances.cpp; the indications in
// DisplayProviderIndications.cpp.
#ifndef PNLMON_DISPLAYPROVIDER_H
#define PNLMON_DISPLAYPROVIDER_H

#include <cstdint>
#include <string>

#include "ChangeAnnouncer.h"
#include "QavDisplayList.h"
#include "cmpidt.h"
#include "cmpift.h"
#include "display.h"

class DisplayProvider : public IDisplayListener {
public:
    DisplayProvider();
    ~DisplayProvider() override;
    DisplayProvider(const DisplayProvider&) = delete;
    DisplayProvider& operator=(const DisplayProvider&) = delete;

    void initialise(const CMPIContext* context);
    bool isInitialised() const { return initialised; }
    void setBroker(const CMPIBroker* value) { broker = value; }

    // Instance MI (all with drv_synch held).
    CMPIStatus enumInstanceNames(CMPIInstanceMI* mi, const CMPIContext* context,
                                 const CMPIResult* result, const CMPIObjectPath* reference);
    CMPIStatus enumInstances(CMPIInstanceMI* mi, const CMPIContext* context,
                             const CMPIResult* result, const CMPIObjectPath* reference,
                             const char** properties);
    CMPIStatus getInstance(CMPIInstanceMI* mi, const CMPIContext* context,
                           const CMPIResult* result, const CMPIObjectPath* path,
                           const char** properties);

    // Indication MI (all with drv_synch held).
    CMPIStatus authorizeFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                               const CMPISelectExp* filter, const char* className,
                               const CMPIObjectPath* classPath, const char* owner);
    CMPIStatus mustPoll(CMPIIndicationMI* mi, const CMPIContext* context,
                        const CMPISelectExp* filter, const char* className,
                        const CMPIObjectPath* classPath);
    CMPIStatus activateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                              const CMPISelectExp* filter, const char* className,
                              const CMPIObjectPath* classPath, CMPIBoolean firstActivation);
    CMPIStatus deActivateFilter(CMPIIndicationMI* mi, const CMPIContext* context,
                                const CMPISelectExp* filter, const char* className,
                                const CMPIObjectPath* classPath, CMPIBoolean lastActivation);
    void enableIndications(CMPIIndicationMI* mi, const CMPIContext* context);
    void disableIndications(CMPIIndicationMI* mi, const CMPIContext* context);
    void indicationCleanup();

    // IDisplayListener: called by the driver on the requesting thread,
    // inside a locked instance operation.
    void DisplayCreated(DisplayInformation info) override;
    void DisplayDeleted(DisplayInformation info) override;

    // Hands the display (owned from here on) to a new broker thread that
    // builds and delivers the indication.
    void sendLifecycleIndication(int32_t type, QAV_Display* display);

    void updateDisplays();

    // Announcing changes as they happen ("AnnounceChanges=immediate"), in
    // DisplayProviderAnnouncements.cpp; all with drv_synch held.
    // Starts or stops the announcer as the listener and the enable flag say.
    void updateAnnouncements();
    void stopAnnouncements();
    bool announcing() const;
    // The refresh of an instance request, for the announcer; the driver's
    // answer.
    DISPLAY_CODE refreshForAnnouncement();

    // The baseline (DisplayProviderBaseline.cpp): the monitors attached when
    // watching starts are taken as they are, not announced. The driver
    // reports every monitor of its first enumeration as arrived; a CIM
    // object manager that restores its stored subscriptions at start would
    // otherwise announce every monitor that stayed attached across the
    // restart. Called when the listener is registered and when the
    // announcer starts; enumerates once if this provider never has.
    void takeBaseline(const char* moment);
    // Whether the next enumeration that lists the bus is the baseline.
    bool baselinePending() const { return awaitingBaseline; }

    static bool isCimV2Namespace(const char* text);
    static bool isQavDisplayClass(const char* text);
    static bool isQavDisplayIndicationClass(const char* text);

    // "root/cimv2:QAV_Display.DeviceID=\"...\"", with backslash and double
    // quote in the identifier escaped by a backslash.
    static std::string ModelPath(const std::string& deviceId);

private:
    enum class Enumeration { Names, Instances };
    CMPIStatus enumerate(Enumeration kind, const CMPIResult* result,
                         const CMPIObjectPath* reference);
    template <typename Body>
    CMPIStatus serve(const char* operation, const char* pathLine, const char* noneText,
                     const CMPIResult* result, const CMPIObjectPath* path, Body body);
    // The class test in front of authorize, activate and deactivate.
    CMPIStatus checkFilterClass(const char* operation, const CMPIObjectPath* classPath,
                                std::string& className) const;
    // Logs and applies one change of the subscription count; returns the
    // new count.
    int32_t countSubscriptions(const char* operation, int32_t change);
    void reportChange(int32_t type, const DisplayInformation& info);
    void createAnnouncer();
    // Notes the outcome of an enumeration for the baseline.
    void noteEnumeration(DISPLAY_CODE code);

    bool initialised;
    int32_t activeIndSubscriptions;
    bool indicationsEnabled;
    const CMPIContext* indCtx;
    const CMPIBroker* broker;
    DisplayApi* displayApi;
    QavDisplayList qavDisplays;
    bool listening;             // registered as the driver's listener
    DISPLAY_CODE lastRefresh;   // the driver's answer to the latest refresh
    ChangeAnnouncer* announcer; // owned; only with "AnnounceChanges=immediate"
    bool enumerated;            // an enumeration has listed the bus since construction
    bool awaitingBaseline;      // arrivals of the next such enumeration are not announced
};

#endif
