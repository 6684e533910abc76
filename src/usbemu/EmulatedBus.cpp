#include "EmulatedBus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "MonitorFirmware.h"
#include "Testbed.h"
#include "UsbAddressPool.h"
#include "UsbDescriptors.h"
#include "UsbfsDevice.h"

namespace usbemu {
namespace {

const char kBlockedSuffix[] = ".blocked";

struct Plugged {
    int address = -1;
    std::string syspath;
    std::string devnode;
    std::shared_ptr<MonitorFirmware> firmware;
    std::unique_ptr<UsbfsDevice> device;
    bool nodeBlocked = false;   // OpenFails: a folder stands in for the node
    bool unconfigured = false;  // NoActiveConfig: sysfs bConfigurationValue reads 0
    bool removed = false;       // "remove" uevent sent and sysfs entry gone
};

// The handler of a pulled monitor. It stays attached, answering ENODEV, so
// that a client which opened the node before the pull gets the errors of a
// real disconnect (umockdev's preload aborts a client whose ioctl socket
// goes away). It is detached when its address is handed out again, or at
// shutdown.
struct Retired {
    std::string devnode;
    std::unique_ptr<UsbfsDevice> device;
};

}  // namespace

struct EmulatedBus::Impl {
    // Taken by the owner's thread for every operation and, with a time limit,
    // by umockdev's worker thread when a monitor vanishes by itself.
    std::mutex lock;
    std::unique_ptr<Testbed> testbed;
    UsbAddressPool addresses;
    std::map<std::string, Plugged> plugged;
    // The latest firmware of every name, kept after the unplug for its record.
    std::map<std::string, std::shared_ptr<MonitorFirmware>> firmwares;
    std::map<int, Retired> retired;   // by USB address

    Testbed& bed()
    {
        if (!testbed) {
            throw std::logic_error("the emulated bus was shut down");
        }
        return *testbed;
    }

    std::string nodePath(const Plugged& monitor) { return bed().rootDir() + monitor.devnode; }

    void blockNode(Plugged& monitor)
    {
        if (monitor.nodeBlocked) {
            return;
        }
        std::string path = nodePath(monitor);
        if (rename(path.c_str(), (path + kBlockedSuffix).c_str()) == 0 && mkdir(path.c_str(), 0755) == 0) {
            monitor.nodeBlocked = true;
        } else {
            perror(("usbemu: cannot block " + path).c_str());
        }
    }

    void unblockNode(Plugged& monitor)
    {
        if (!monitor.nodeBlocked) {
            return;
        }
        std::string path = nodePath(monitor);
        rmdir(path.c_str());
        if (rename((path + kBlockedSuffix).c_str(), path.c_str()) != 0) {
            perror(("usbemu: cannot restore " + path).c_str());
        }
        monitor.nodeBlocked = false;
    }

    // libusb reads the active configuration from sysfs at every
    // libusb_get_active_config_descriptor; 0 means "not configured".
    void setConfigured(Plugged& monitor, bool configured)
    {
        if (monitor.unconfigured == !configured || monitor.removed) {
            return;
        }
        std::string path = bed().rootDir() + monitor.syspath + "/bConfigurationValue";
        FILE* file = fopen(path.c_str(), "w");
        if (file == nullptr) {
            perror(("usbemu: cannot write " + path).c_str());
            return;
        }
        fputs(configured ? "1\n" : "0\n", file);
        fclose(file);
        monitor.unconfigured = !configured;
    }

    void removeFromSysfs(Plugged& monitor)
    {
        if (monitor.removed) {
            return;
        }
        unblockNode(monitor);
        // umockdev's remove_device sends no uevent of its own; without the
        // "remove" event a libusb context keeps a stale device for good.
        bed().uevent(monitor.syspath, "remove");
        bed().removeDevice(monitor.syspath);
        monitor.removed = true;
    }

    void finishUnplug(std::map<std::string, Plugged>::iterator entry)
    {
        Plugged& monitor = entry->second;
        monitor.firmware->markGone();
        // Reads in flight come back with ENODEV, as from the kernel.
        monitor.device->disconnect();
        removeFromSysfs(monitor);
        Retired& old = retired[monitor.address];
        old.devnode = monitor.devnode;
        old.device = std::move(monitor.device);
        addresses.release(monitor.address);
        plugged.erase(entry);
    }

    // Detaches the handler of the monitor that last had this address. By
    // then its clients have long closed the node (addresses come round
    // again after 125 other plugs). At teardown (reuse false) the clients
    // may not have been seen to hang up yet, and nothing is reused: no word.
    void detachRetired(int address, bool reuse = true)
    {
        auto old = retired.find(address);
        if (old == retired.end()) {
            return;
        }
        if (reuse && old->second.device->clients() > 0) {
            fprintf(stderr, "usbemu: %s is reused while a client still has the pulled monitor open\n",
                    old->second.devnode.c_str());
        }
        bed().detachIoctl(old->second.devnode);
        retired.erase(old);
    }

    void detachAllRetired()
    {
        while (!retired.empty()) {
            detachRetired(retired.begin()->first, false);
        }
    }

    std::vector<std::string> collect()
    {
        std::vector<std::string> gone;
        for (auto entry = plugged.begin(); entry != plugged.end();) {
            auto next = std::next(entry);
            if (entry->second.firmware->gone()) {
                gone.push_back(entry->first);
                finishUnplug(entry);
            }
            entry = next;
        }
        return gone;
    }

    // On umockdev's worker thread, right after the monitor answered its last
    // URB: take it off the bus so that the next device list misses it. The
    // handler detach must wait for the owner's thread (it waits for this
    // thread), and so does everything if the owner holds the lock too long.
    void vanished(const std::string& name, const MonitorFirmware* firmware)
    {
        // Polled rather than timed: ThreadSanitizer does not follow timed locks.
        std::unique_lock<std::mutex> guard(lock, std::defer_lock);
        for (int waited = 0; !guard.try_lock(); ++waited) {
            if (waited >= 1000) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        auto entry = plugged.find(name);
        if (entry != plugged.end() && entry->second.firmware.get() == firmware && testbed) {
            removeFromSysfs(entry->second);
        }
    }

    // Lets the monitor's handler take in the ends of files closed so far;
    // without the lock, which umockdev's thread may need meanwhile.
    void settle(const std::string& name)
    {
        std::function<void()> settler;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto entry = plugged.find(name);
            if (entry == plugged.end()) {
                return;
            }
            settler = entry->second.device->settler();
        }
        settler();
    }

    Plugged& find(const std::string& name)
    {
        auto entry = plugged.find(name);
        if (entry == plugged.end()) {
            throw std::out_of_range("no emulated monitor named '" + name + "' is plugged");
        }
        return entry->second;
    }
};

EmulatedBus& EmulatedBus::instance()
{
    // Never destroyed: libusb contexts of the process may outlive any static
    // destructor, and they must keep finding the testbed.
    static EmulatedBus* bus = new EmulatedBus();
    return *bus;
}

EmulatedBus::EmulatedBus() : impl(std::make_unique<Impl>())
{
    impl->testbed = std::make_unique<Testbed>();
}

EmulatedBus::~EmulatedBus() = default;

void EmulatedBus::plug(const MonitorSpec& spec)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    if (spec.name.empty()) {
        throw std::invalid_argument("an emulated monitor needs a name");
    }
    if (impl->plugged.count(spec.name) != 0) {
        throw std::invalid_argument("emulated monitor '" + spec.name + "' is already plugged");
    }
    if (spec.numInterfaces > 4 || spec.numEndpoints > 4) {
        throw std::invalid_argument("emulated monitor '" + spec.name + "': at most 4 interfaces and endpoints");
    }
    Testbed& bed = impl->bed();
    int address = impl->addresses.acquire();
    if (address < 0) {
        throw std::runtime_error("the emulated bus is full");
    }
    impl->detachRetired(address);
    Plugged monitor;
    monitor.address = address;
    monitor.syspath = MonitorSyspath(address);
    monitor.devnode = MonitorDevnode(address);
    monitor.firmware = std::make_shared<MonitorFirmware>(spec);
    Impl* owner = impl.get();
    const MonitorFirmware* firmware = monitor.firmware.get();
    std::string name = spec.name;
    monitor.device = std::make_unique<UsbfsDevice>(monitor.firmware,
                                                   [owner, name, firmware] { owner->vanished(name, firmware); });
    // The handler must be in place before the "add" uevent announces the node.
    std::string error;
    if (!bed.attachIoctl(monitor.devnode, monitor.device->ioctlHandler(), &error)) {
        impl->addresses.release(address);
        throw std::runtime_error("cannot attach the ioctl handler of " + monitor.devnode + ": " + error);
    }
    if (!bed.add(MonitorDescription(monitor.firmware->spec(), address), &error)) {
        bed.detachIoctl(monitor.devnode);
        impl->addresses.release(address);
        throw std::runtime_error("cannot add emulated monitor '" + spec.name + "': " + error);
    }
    impl->firmwares[spec.name] = monitor.firmware;
    impl->plugged.emplace(spec.name, std::move(monitor));
}

void EmulatedBus::unplug(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    auto entry = impl->plugged.find(name);
    if (entry != impl->plugged.end()) {
        impl->finishUnplug(entry);
    }
}

void EmulatedBus::unplugAll()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    while (!impl->plugged.empty()) {
        impl->finishUnplug(impl->plugged.begin());
    }
    // Emptied between tests, with no request in flight: the pulled
    // monitors' handlers and their sockets go too.
    impl->detachAllRetired();
}

bool EmulatedBus::isPlugged(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    return impl->plugged.count(name) != 0;
}

void EmulatedBus::setFault(const std::string& name, const Fault& fault)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    Plugged& monitor = impl->find(name);
    monitor.firmware->setFault(fault);
    if (fault.kind == FaultKind::OpenFails) {
        impl->blockNode(monitor);
    } else {
        impl->unblockNode(monitor);
    }
    impl->setConfigured(monitor, fault.kind != FaultKind::NoActiveConfig);
}

void EmulatedBus::clearFault(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    Plugged& monitor = impl->find(name);
    monitor.firmware->clearFault();
    impl->unblockNode(monitor);
    impl->setConfigured(monitor, true);
}

std::vector<WireEvent> EmulatedBus::wire(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    auto entry = impl->firmwares.find(name);
    return entry == impl->firmwares.end() ? std::vector<WireEvent>() : entry->second->wire();
}

void EmulatedBus::clearWire(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    auto entry = impl->firmwares.find(name);
    if (entry != impl->firmwares.end()) {
        entry->second->clearWire();
    }
}

int EmulatedBus::opens(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    auto entry = impl->firmwares.find(name);
    return entry == impl->firmwares.end() ? 0 : entry->second->opens();
}

int EmulatedBus::endpointWrites(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    auto entry = impl->firmwares.find(name);
    return entry == impl->firmwares.end() ? 0 : entry->second->endpointWrites();
}

bool EmulatedBus::holdInterface(const std::string& name, std::chrono::milliseconds duration, unsigned interface)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    return impl->find(name).firmware->hold(interface, duration);
}

void EmulatedBus::releaseHold(const std::string& name, unsigned interface)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    impl->find(name).firmware->endHold(interface);
}

std::string EmulatedBus::interfaceHolder(const std::string& name, unsigned interface)
{
    impl->settle(name);
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    auto entry = impl->plugged.find(name);
    return entry == impl->plugged.end() ? std::string() : entry->second.firmware->holderName(interface);
}

int EmulatedBus::openFiles(const std::string& name)
{
    impl->settle(name);
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    auto entry = impl->plugged.find(name);
    return entry == impl->plugged.end() ? 0 : entry->second.device->clients();
}

std::vector<std::string> EmulatedBus::collectVanished()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->collect();
}

std::vector<std::string> EmulatedBus::pluggedNames()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    std::vector<std::string> names;
    for (const auto& entry : impl->plugged) {
        names.push_back(entry.first);
    }
    return names;
}

int EmulatedBus::address(const std::string& name)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->collect();
    auto entry = impl->plugged.find(name);
    return entry == impl->plugged.end() ? -1 : entry->second.address;
}

std::string EmulatedBus::rootDir()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->bed().rootDir();
}

void EmulatedBus::shutdown()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    if (!impl->testbed) {
        return;
    }
    impl->collect();
    while (!impl->plugged.empty()) {
        impl->finishUnplug(impl->plugged.begin());
    }
    impl->detachAllRetired();
    impl->testbed.reset();
}

}  // namespace usbemu
