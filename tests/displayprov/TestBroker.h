// A scripted CMPI broker for provider unit tests: records what the provider
// returns and delivers, and refuses chosen calls on request. Every object it
// hands out lives until the broker is destroyed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cmpidt.h"
#include "cmpift.h"

namespace testbroker {

struct InstData;

struct Value {
    CMPIType type = CMPI_null;  // as the provider set it
    bool null = true;
    std::string text;
    uint64_t number = 0;
    bool boolean = false;
    std::vector<std::string> texts;
    std::shared_ptr<InstData> instance;
};

struct PathData {
    std::string nameSpace;
    std::string className;
    std::vector<std::pair<std::string, Value>> keys;
};

struct InstData {
    PathData path;
    std::vector<std::pair<std::string, Value>> properties;  // in set order
    const Value* find(const std::string& name) const;
};

struct Delivered {
    std::string nameSpace;
    InstData indication;
};

struct Faults {
    CMPIrc nameSpaceStatus = CMPI_RC_OK;  // getNameSpace fails with this
    CMPIrc classNameStatus = CMPI_RC_OK;  // getClassName fails with this
    bool nullNameSpaceText = false;       // getNameSpace answers OK with no string
    std::string refuseProperty;           // setProperty of this name fails ...
    int refuseOnInstance = 0;             // ... on the n-th instance made (1-based, 0 = all)
    CMPIrc refuseStatus = CMPI_RC_ERR_TYPE_MISMATCH;
    bool newThreadFails = false;
    CMPIrc attachStatus = CMPI_RC_OK;
    CMPIrc deliverStatus = CMPI_RC_OK;
};

class TestBroker {
public:
    TestBroker();
    ~TestBroker();  // waits for every thread the provider started
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    const CMPIBroker* broker() const { return &broker_; }
    CMPIContext* context() { return context_; }
    Faults faults;

    // A request path in namespace/class, optionally with a DeviceID key.
    CMPIObjectPath* path(const std::string& nameSpace, const std::string& className);
    CMPIObjectPath* pathWithKey(const std::string& nameSpace, const std::string& className,
                                const std::string& deviceId);
    CMPIObjectPath* pathWithUintKey(const std::string& nameSpace, const std::string& className,
                                    uint32_t value);

    // A fresh result collector.
    CMPIResult* result();
    std::vector<PathData> returnedPaths(const CMPIResult* result);
    std::vector<InstData> returnedInstances(const CMPIResult* result);
    int doneCount(const CMPIResult* result);

    // Waits until `count` threads started by the provider have ended.
    bool waitThreadsEnded(int count, int timeoutMs = 10000);
    std::vector<Delivered> delivered();
    int prepared();
    int attached();
    int detached();
    int released();
    int threadsStarted();

    // Object behind a header (used by the C callbacks).
    struct Object;

private:
    template <class T>
    T* make();

    CMPIBroker broker_;
    CMPIBrokerFT bft_;
    CMPIBrokerEncFT eft_;
    CMPIBrokerExtFT xft_;
    CMPIContext* context_ = nullptr;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::unique_ptr<Object>> objects_;
    std::vector<Delivered> delivered_;
    int instancesMade_ = 0;
    int threadsStarted_ = 0;
    int threadsEnded_ = 0;
    int prepared_ = 0;
    int attached_ = 0;
    int detached_ = 0;
    int released_ = 0;

    friend struct Callbacks;
};

}  // namespace testbroker
