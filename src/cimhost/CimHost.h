// Embedded CIMOM host: loads a CMPI provider library, creates its MIs
// through the factory functions the way real CIM object managers do, serves
// it a working broker, and runs requests whose results come back as plain
// C++ values. Tests and the pnlmon-cimhost tool share it.
//
// Thread safety: requests may be issued from several threads at once. Loading
// MIs, cleanups and unload take an exclusive lock and wait for running
// requests.
#pragma once

#include "HostBroker.h"
#include "HostInstance.h"
#include "HostObjectPath.h"
#include "HostValue.h"
#include "IndicationQueue.h"
#include "ProviderLibrary.h"
#include "RequestResult.h"

#include <cmpift.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace cimhost {

struct CimHostOptions {
    std::string providerName = "DisplayProvider"; // <name>_Create_InstanceMI / _Create_IndicationMI
    std::string nameSpace = "root/cimv2";         // namespace of filter class paths
    std::string principal = "root";               // CMPIPrincipal context entry
    bool initNamespaceEntry = false;              // also set CMPIInitNameSpace in request contexts
    bool nullThreadSlots = true;                  // xft join/exit/cancel/sleep/signal left NULL
    std::chrono::milliseconds threadDrainTimeout{10000}; // wait for provider threads at unload
};

class CimHost {
public:
    explicit CimHost(CimHostOptions options = CimHostOptions());
    ~CimHost();
    CimHost(const CimHost&) = delete;
    CimHost& operator=(const CimHost&) = delete;

    // dlopen(RTLD_NOW | RTLD_LOCAL). Factories are called lazily by the first
    // request needing an MI, or by loadInstanceMI / loadIndicationMI.
    bool load(const std::string& path, std::string* error = nullptr);
    bool isLoaded() const { return library_.isOpen(); }
    // Cleans up the loaded MIs (terminating), waits for the provider's threads
    // and closes the library. False when threads did not end in time (the
    // library then stays mapped).
    bool unload();

    // _Generic_Create_<T>MI first, else <name>_Create_<T>MI; status preset to
    // OK; a NULL MI or a non-OK status is a failure.
    HostStatus loadInstanceMI();
    HostStatus loadIndicationMI();
    bool instanceMILoaded() const;
    bool indicationMILoaded() const;
    unsigned instanceFactoryCalls() const;
    unsigned indicationFactoryCalls() const;

    // Instance MI requests.
    RequestResult enumerateInstanceNames(const std::string& ns, const std::string& cls);
    RequestResult enumerateInstances(const std::string& ns, const std::string& cls,
                                     const std::vector<std::string>* properties = nullptr);
    // Key passed as text: keyType CMPI_chars (text pointer) or CMPI_string.
    RequestResult getInstance(const std::string& ns, const std::string& cls, const std::string& keyName,
                              const std::string& keyValue, CMPIType keyType = CMPI_chars);
    // Key of any type.
    RequestResult getInstance(const std::string& ns, const std::string& cls, const std::string& keyName,
                              const HostValue& key);
    // Any path, also one without keys.
    RequestResult getInstance(const HostObjectPath& path);
    RequestResult createInstance(const HostObjectPath& classPath, const HostInstance& instance);
    RequestResult modifyInstance(const HostObjectPath& path, const HostInstance& instance);
    RequestResult deleteInstance(const HostObjectPath& path);
    RequestResult execQuery(const HostObjectPath& classPath, const std::string& query,
                            const std::string& language = "WQL");

    // Indication MI requests. cls is the indication class, passed as the
    // class name argument and in the class path (options().nameSpace); the
    // filter is a select expression over query (default "SELECT * FROM cls").
    HostStatus authorizeFilter(const std::string& cls, const std::string& query = "",
                               const std::string& owner = "root");
    HostStatus mustPoll(const std::string& cls, const std::string& query = "");
    HostStatus activateFilter(const std::string& cls, bool firstActivation, const std::string& query = "");
    HostStatus deActivateFilter(const std::string& cls, bool lastActivation, const std::string& query = "");
    // Called only when the MI's ftVersion is at least 86; false when not called.
    bool enableIndications();
    bool disableIndications();

    // cleanup(terminating). The MI counts as unloaded afterwards (the next
    // request calls the factory again) unless it answered
    // CMPI_RC_DO_NOT_UNLOAD / CMPI_RC_NEVER_UNLOAD with terminating false.
    HostStatus cleanupInstanceMI(bool terminating);
    HostStatus cleanupIndicationMI(bool terminating);
    // An idle unload as some CIM object managers try it: cleanup(false) of
    // the instance MI, then of the indication MI (those loaded); both MIs
    // stay loaded, without new factory calls, when either refuses, and go
    // when both agree. Answers the first refusal, else OK.
    HostStatus idleUnload();
    // The restart of a CIM object manager that stores its subscriptions:
    // the provider is unloaded (terminating cleanups, its threads waited
    // for) and loaded again from the same file; then, as the object manager
    // restores the subscriptions at its start, both factories are called,
    // activateFilter runs once per stored filter class, in order (the first
    // with firstActivation true), and enableIndications follows where the MI
    // has it. No instance
    // request is made. whileDown, when given, runs between the unload and the
    // load (what happens while the object manager is down). Answers the first
    // failing step (the host is then left as that step left it), else OK.
    HostStatus restartWithSubscriptions(
        const std::function<void()>& whileDown = nullptr,
        const std::vector<std::string>& filterClasses = {"CIM_InstCreation", "CIM_InstDeletion"});

    // Fault injection (see HostBroker).
    void failSetProperty(unsigned nth, CMPIrc rc = CMPI_RC_ERR_FAILED) { broker_->failSetPropertyAt(nth, rc); }
    void refuseDeliverIndication(bool on, CMPIrc rc = CMPI_RC_ERR_FAILED) { broker_->refuseDeliver(on, rc); }
    void failAttachThread(bool on, CMPIrc rc = CMPI_RC_ERR_FAILED) { broker_->failAttach(on, rc); }
    void failNewThread(bool on) { broker_->failNewThread(on); }
    void delayDeliverIndication(std::chrono::milliseconds delay) { broker_->delayDeliver(delay); }

    IndicationQueue& indications() { return broker_->indications(); }
    bool waitForIndications(std::size_t count, std::chrono::milliseconds timeout)
    {
        return broker_->indications().waitFor(count, timeout);
    }
    // Waits until every thread the provider started through newThread ended.
    bool waitForProviderThreads(std::chrono::milliseconds timeout) { return broker_->threads().waitIdle(timeout); }

    HostBroker& broker() { return *broker_; }
    BrokerCounters counters() const { return broker_->counters(); }
    // Objects living as long as the broker (clones, prepared contexts).
    std::size_t longLivedObjects() const { return broker_->scopeObjectCount(); }
    void* providerSymbol(const std::string& name) const { return library_.symbol(name); }
    const CimHostOptions& options() const { return options_; }

    // "CMPI_RC_OK", "CMPI_RC_ERR_NOT_FOUND", ...; "CMPI_RC_<n>" for others.
    static std::string RcName(int rc);

private:
    class Request;
    using InstanceCall = std::function<CMPIStatus(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*, Request&)>;
    using IndicationCall = std::function<CMPIStatus(CMPIIndicationMI*, const CMPIContext*, Request&)>;

    RequestResult runInstance(const InstanceCall& call);
    HostStatus runIndication(const IndicationCall& call);
    HostStatus statusOf(const CMPIStatus& st) const;
    HostStatus filterCall(const std::string& cls, const std::string& query, int slot, bool flag,
                          const std::string& owner);
    bool enableDisable(bool enable);
    HostStatus cleanup(bool instance, bool terminating);

    CimHostOptions options_;
    std::unique_ptr<HostBroker> broker_;
    ProviderLibrary library_;

    mutable std::shared_mutex miMutex_;
    CMPIInstanceMI* instMI_ = nullptr;
    CMPIIndicationMI* indMI_ = nullptr;
    unsigned instFactoryCalls_ = 0;
    unsigned indFactoryCalls_ = 0;
};

} // namespace cimhost
