// Running a process under the umockdev preload, which redirects /sys, /dev
// and the uevent socket to the testbed and forwards the device nodes' ioctls
// to the emulated monitors.
#ifndef PNLMON_USBEMU_PRELOAD_H
#define PNLMON_USBEMU_PRELOAD_H

#include <string>

namespace usbemu {

// Call first in main(): re-executes the program under LD_PRELOAD with the
// umockdev preload (sanitizer runtime kept first when the binary uses a
// shared one, then the nlfix shim) when it is missing. Also sets G_SLICE and,
// in a ThreadSanitizer build, the suppressions for umockdev's known races.
// Exits with status 2 when the re-execution fails.
void EnsurePreload(int argc, char** argv);

// True when this process runs under the umockdev preload.
bool PreloadActive();

// The LD_PRELOAD value for a process that talks to the emulated monitors:
// this process's shared sanitizer runtime (if any), the nlfix shim (when
// withNlFix and it is found), the umockdev preload, then the entries of
// existing that are not already there.
std::string PreloadList(bool withNlFix, const std::string& existing);

// Full path of the shared sanitizer runtime (ASan/TSan) loaded in this
// process, or empty when there is none (no sanitizer, or a static runtime).
std::string SharedSanitizerRuntime();

// Path of the nlfix shim: $PNLMON_NLFIX, else the private library folder of
// the installation this executable belongs to (<libdir>/pnlmon beside
// <bindir>), else beside this executable; empty when none exists.
std::string NlFixLibrary();

// umockdev aborts the process that emulates the monitors as soon as one
// receiving uevent socket is full, and a Unix datagram socket queues only
// net.unix.max_dgram_qlen messages (10 by default): a consumer whose event
// thread falls that many uevents behind, as on a loaded machine, kills the
// emulator. This moves the process into a private network namespace whose
// queues hold `depth` messages; sockets created afterwards, here and in
// children, get it. The emulator's sockets are pathname Unix sockets, which
// work across network namespaces. Needs root; false with a reason otherwise.
bool DeepenUeventQueues(int depth, std::string* error);

}  // namespace usbemu

#endif
