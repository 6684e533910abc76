// Process-wide owner of every broker object, grouped into scopes.
//
// A scope is the lifetime of a set of objects: one per request (freed when
// the request ends), one per attached thread (freed by detachThread), and one
// per broker (freed when the host ends; clones and prepared contexts live
// there). Objects a provider creates go to the calling thread's current
// scope when it belongs to the same broker, else to that broker's own scope.
// Lookups validate pointers a provider passes back, so a stale or foreign
// pointer is reported instead of being dereferenced.
#pragma once

#include "BrokerObject.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace cimhost {

class ObjectRegistry {
public:
    static ObjectRegistry& instance();

    std::uint64_t openScope(const HostBroker& broker);
    // Frees every object of the scope still alive.
    void closeScope(std::uint64_t scope);
    std::size_t objectCount(std::uint64_t scope) const;

    // Takes ownership; returns the object (for the caller to fill in further).
    BrokerObject* adopt(std::unique_ptr<BrokerObject> object, std::uint64_t scope);
    // Frees one object now; false when the header is unknown (already freed).
    bool release(const void* header);

    BrokerObject* find(const void* header) const;
    template <class T>
    T* find(const void* header) const
    {
        return dynamic_cast<T*>(find(header));
    }

    // The scope new objects of this broker go to on the calling thread.
    std::uint64_t currentScope(const HostBroker& broker, std::uint64_t brokerScope) const;
    // Broker a scope belongs to (nullptr when the scope is unknown).
    const HostBroker* scopeBroker(std::uint64_t scope) const;
    // Scope id a thread is working in (0 = none).
    static std::uint64_t threadScope();
    static void setThreadScope(std::uint64_t scope);

    // Makes a scope current on this thread for its lifetime.
    class ThreadScope {
    public:
        explicit ThreadScope(std::uint64_t scope) : previous_(threadScope()) { setThreadScope(scope); }
        ~ThreadScope() { setThreadScope(previous_); }
        ThreadScope(const ThreadScope&) = delete;
        ThreadScope& operator=(const ThreadScope&) = delete;

    private:
        std::uint64_t previous_;
    };

private:
    ObjectRegistry() = default;

    struct Entry {
        std::unique_ptr<BrokerObject> object;
        std::uint64_t scope = 0;
    };
    struct Scope {
        const HostBroker* broker = nullptr;
        std::vector<const void*> members;
    };

    mutable std::mutex mutex_;
    std::unordered_map<const void*, Entry> objects_;
    std::unordered_map<std::uint64_t, Scope> scopes_;
    std::uint64_t nextScope_ = 1;
};

// The release function of every object table: the registry frees the
// object behind the handle.
template <class Handle>
CMPIStatus ReleaseHandle(Handle* handle)
{
    return MakeStatus(ObjectRegistry::instance().release(handle) ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
}

} // namespace cimhost
