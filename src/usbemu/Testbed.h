// The process's umockdev testbed: a private sysfs and /dev in a temporary
// folder (under $TMPDIR), seen by every process started under the umockdev
// preload with this process's UMOCKDEV_DIR. Holds bus 1 with its root hub.
#ifndef PNLMON_USBEMU_TESTBED_H
#define PNLMON_USBEMU_TESTBED_H

#include <string>

namespace usbemu {

class Testbed {
public:
    // Creates the testbed (and sets UMOCKDEV_DIR in this process's
    // environment). Throws std::runtime_error when that fails.
    Testbed();
    ~Testbed();  // removes the testbed folder
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    const std::string& rootDir() const { return root; }

    // Device description in umockdev's text format; the "add" uevent is sent.
    bool add(const std::string& description, std::string* error);
    bool attachIoctl(const std::string& devnode, void* handler, std::string* error);
    void detachIoctl(const std::string& devnode);
    void uevent(const std::string& syspath, const char* action);
    void removeDevice(const std::string& syspath);

private:
    void* testbed;
    std::string root;
};

}  // namespace usbemu

#endif
