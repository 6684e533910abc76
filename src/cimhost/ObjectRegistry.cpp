#include "ObjectRegistry.h"

#include "HostBroker.h"

#include <algorithm>

namespace cimhost {

namespace {
thread_local std::uint64_t tlsScope = 0;
}

ObjectRegistry& ObjectRegistry::instance()
{
    // Never destroyed: detached provider threads may outlive static destruction.
    static ObjectRegistry* registry = new ObjectRegistry;
    return *registry;
}

std::uint64_t ObjectRegistry::openScope(const HostBroker& broker)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t id = nextScope_++;
    scopes_[id].broker = &broker;
    return id;
}

void ObjectRegistry::closeScope(std::uint64_t scope)
{
    std::vector<std::unique_ptr<BrokerObject>> doomed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = scopes_.find(scope);
        if (it == scopes_.end()) {
            return;
        }
        for (const void* header : it->second.members) {
            auto obj = objects_.find(header);
            if (obj != objects_.end()) {
                doomed.push_back(std::move(obj->second.object));
                objects_.erase(obj);
            }
        }
        scopes_.erase(it);
    }
    // Objects are destroyed outside the lock.
}

std::size_t ObjectRegistry::objectCount(std::uint64_t scope) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = scopes_.find(scope);
    return it == scopes_.end() ? 0 : it->second.members.size();
}

BrokerObject* ObjectRegistry::adopt(std::unique_ptr<BrokerObject> object, std::uint64_t scope)
{
    BrokerObject* raw = object.get();
    const void* header = raw->header();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = scopes_.find(scope);
    if (it == scopes_.end()) {
        // The scope ended meanwhile: the object lives as long as its broker.
        it = scopes_.find(raw->broker().scope());
    }
    if (it == scopes_.end()) {
        return nullptr; // broker gone as well: the object is dropped
    }
    it->second.members.push_back(header);
    objects_[header] = Entry{std::move(object), it->first};
    return raw;
}

bool ObjectRegistry::release(const void* header)
{
    std::unique_ptr<BrokerObject> doomed;
    std::lock_guard<std::mutex> lock(mutex_);
    auto obj = objects_.find(header);
    if (obj == objects_.end()) {
        return false;
    }
    auto sc = scopes_.find(obj->second.scope);
    if (sc != scopes_.end()) {
        auto& m = sc->second.members;
        m.erase(std::remove(m.begin(), m.end(), header), m.end());
    }
    doomed = std::move(obj->second.object);
    objects_.erase(obj);
    return true;
}

BrokerObject* ObjectRegistry::find(const void* header) const
{
    if (header == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto obj = objects_.find(header);
    return obj == objects_.end() ? nullptr : obj->second.object.get();
}

std::uint64_t ObjectRegistry::currentScope(const HostBroker& broker, std::uint64_t brokerScope) const
{
    std::uint64_t scope = tlsScope;
    if (scope != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = scopes_.find(scope);
        if (it != scopes_.end() && it->second.broker == &broker) {
            return scope;
        }
    }
    return brokerScope;
}

const HostBroker* ObjectRegistry::scopeBroker(std::uint64_t scope) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = scopes_.find(scope);
    return it == scopes_.end() ? nullptr : it->second.broker;
}

std::uint64_t ObjectRegistry::threadScope()
{
    return tlsScope;
}

void ObjectRegistry::setThreadScope(std::uint64_t scope)
{
    tlsScope = scope;
}

} // namespace cimhost
