#include "Testbed.h"

#include <umockdev.h>

#include <stdexcept>

#include "UsbDescriptors.h"

namespace usbemu {
namespace {

UMockdevTestbed* Get(void* testbed)
{
    return static_cast<UMockdevTestbed*>(testbed);
}

bool Report(GError* gerror, std::string* error)
{
    if (gerror != nullptr) {
        if (error != nullptr) {
            *error = gerror->message;
        }
        g_error_free(gerror);
        return false;
    }
    return true;
}

}  // namespace

Testbed::Testbed()
{
    // umockdev_in_mock_environment() must not be asked before this: it would
    // cache "no" and the testbed would then send no "add" uevents.
    UMockdevTestbed* created = umockdev_testbed_new();
    if (created == nullptr) {
        throw std::runtime_error("umockdev_testbed_new failed");
    }
    testbed = created;
    gchar* dir = umockdev_testbed_get_root_dir(created);
    root = dir;
    g_free(dir);
    std::string error;
    if (!add(RootHubDescription(), &error)) {
        throw std::runtime_error("cannot add the root hub: " + error);
    }
}

Testbed::~Testbed()
{
    g_object_unref(Get(testbed));
}

bool Testbed::add(const std::string& description, std::string* error)
{
    GError* gerror = nullptr;
    umockdev_testbed_add_from_string(Get(testbed), description.c_str(), &gerror);
    return Report(gerror, error);
}

bool Testbed::attachIoctl(const std::string& devnode, void* handler, std::string* error)
{
    GError* gerror = nullptr;
    umockdev_testbed_attach_ioctl(Get(testbed), devnode.c_str(), static_cast<UMockdevIoctlBase*>(handler),
                                  &gerror);
    return Report(gerror, error);
}

void Testbed::detachIoctl(const std::string& devnode)
{
    GError* gerror = nullptr;
    umockdev_testbed_detach_ioctl(Get(testbed), devnode.c_str(), &gerror);
    Report(gerror, nullptr);
}

void Testbed::uevent(const std::string& syspath, const char* action)
{
    umockdev_testbed_uevent(Get(testbed), syspath.c_str(), action);
}

void Testbed::removeDevice(const std::string& syspath)
{
    umockdev_testbed_remove_device(Get(testbed), syspath.c_str());
}

}  // namespace usbemu
