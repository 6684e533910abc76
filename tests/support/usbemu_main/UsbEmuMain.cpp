// main() for test binaries that use the emulated monitors: the umockdev
// preload, the private namespaces (system folders, PIDs, and a network
// namespace with deep uevent queues), the testbed on the private tmpfs, then
// the tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "EmulatedBus.h"
#include "Preload.h"
#include "Sandbox.h"

namespace {
// Far more uevents than the churn tests ever leave unread.
const int kUeventQueueDepth = 4096;
}  // namespace

int main(int argc, char** argv)
{
    // Test programs run from the build tree, where the shim is not beside them.
    setenv("PNLMON_NLFIX", PNLMON_BUILD_NLFIX, 0);
    usbemu::EnsurePreload(argc, argv);
    std::string error;
    if (!sandbox::Enter(&error, /*ownPids=*/true)) {
        fprintf(stderr, "cannot enter the private namespaces: %s\n", error.c_str());
        return 1;
    }
    if (!usbemu::DeepenUeventQueues(kUeventQueueDepth, &error)) {
        fprintf(stderr, "cannot deepen the uevent queues: %s\n", error.c_str());
        return 1;
    }
    // A short folder: the testbed's socket paths must stay below 108 bytes.
    setenv("TMPDIR", sandbox::ScratchDir().c_str(), 1);
    try {
        usbemu::EmulatedBus::instance();
    } catch (const std::exception& e) {
        fprintf(stderr, "cannot create the emulated bus: %s\n", e.what());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
