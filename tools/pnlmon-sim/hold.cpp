// pnlmon-sim-hold: another program on the emulated bus. It opens a monitor's
// device node through libusb, claims one interface (detaching a bound kernel
// driver, which libusb binds again at the release) and holds it, as a
// firmware flash utility would, until its time is up or it is told to stop.
//
//   pnlmon-sim-hold [--name COMM] [--interface N] [--seconds S] BUS DEVICE
//
// pnlmon-sim starts it for the scenario's "hold" entries and control lines;
// it is a process of its own, so it shows in /proc with its pid, its name
// (COMM, as /proc/PID/comm shows it) and the node among its open files.
// Prints "held BUS DEVICE pid PID" on standard output once the claim is made.
// Exit status: 0 held and released, 1 no such device or it cannot be opened,
// 3 the claim failed (its libusb error on standard error), 64 usage error.
#include <libusb.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "CommandLine.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStop(int)
{
    stopRequested = 1;
}

libusb_device_handle* Open(libusb_context* ctx, long bus, long address, int& result)
{
    libusb_device** all = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &all);
    libusb_device_handle* handle = nullptr;
    result = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(all[i]) == bus && libusb_get_device_address(all[i]) == address) {
            result = libusb_open(all[i], &handle);
            break;
        }
    }
    if (count >= 0) {
        libusb_free_device_list(all, 1);
    }
    return handle;
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kName = 0x100, kInterface, kSeconds };
    std::string name;
    long interface = 0;
    double seconds = 0;
    CommandLine commandLine(
        "pnlmon-sim-hold", "[--name=COMM] [--interface=N] [--seconds=S] BUS DEVICE",
        "Claims an interface of the USB device DEVICE on bus BUS and holds it for S\n"
        "seconds, or until SIGTERM or SIGINT when no time is given.",
        {
            {"name", 0, CommandLine::kRequired, "COMM", "the process name to show in /proc (15 characters)", kName},
            {"interface", 0, CommandLine::kRequired, "N", "the interface to claim (default 0)", kInterface},
            {"seconds", 0, CommandLine::kRequired, "S", "how long to hold it", kSeconds},
        },
        "Exit status: 0 held and released, 1 no such device or it cannot be opened,\n"
        "3 the claim failed, 64 usage error.\n",
        CommandLine::kNoVerbose);
    int status = commandLine.parse(argc, argv, [&](int id, const char* value, std::string& error) {
        switch (id) {
        case kName:
            name = value;
            return true;
        case kInterface:
            if (!CommandLine::ParseLong(value, 0, 31, interface)) {
                error = "--interface wants a number from 0 to 31";
                return false;
            }
            return true;
        case kSeconds:
            if (!CommandLine::ParseSeconds(value, 86400, seconds)) {
                error = "--seconds wants a positive number of seconds up to 86400";
                return false;
            }
            return true;
        default:
            return false;
        }
    });
    if (status != CommandLine::kContinue) {
        return status;
    }
    long bus = 0;
    long address = 0;
    const std::vector<std::string>& operands = commandLine.operands();
    if (operands.size() != 2 || !CommandLine::ParseLong(operands[0].c_str(), 1, 255, bus) ||
        !CommandLine::ParseLong(operands[1].c_str(), 1, 127, address)) {
        return commandLine.usageError("give the bus (1..255) and the device address (1..127)");
    }
    if (!name.empty()) {
        prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
    }
    struct sigaction action = {};
    action.sa_handler = OnStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0) {
        fprintf(stderr, "pnlmon-sim-hold: libusb cannot start\n");
        return 1;
    }
    int result = 0;
    libusb_device_handle* handle = Open(ctx, bus, address, result);
    if (handle == nullptr) {
        fprintf(stderr, "pnlmon-sim-hold: cannot open %03ld/%03ld: %s\n", bus, address, libusb_error_name(result));
        libusb_exit(ctx);
        return 1;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    result = libusb_claim_interface(handle, static_cast<int>(interface));
    if (result != 0) {
        fprintf(stderr, "pnlmon-sim-hold: cannot claim interface %ld of %03ld/%03ld: %s\n", interface, bus, address,
                libusb_error_name(result));
        libusb_close(handle);
        libusb_exit(ctx);
        return 3;
    }
    printf("held %ld %ld pid %ld\n", bus, address, static_cast<long>(getpid()));
    fflush(stdout);

    timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += static_cast<time_t>(seconds);
    end.tv_nsec += static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9);
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec += 1;
        end.tv_nsec -= 1000000000L;
    }
    while (!stopRequested) {
        if (seconds > 0) {
            // Returns EINTR at a signal, 0 at the end.
            if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == 0) {
                break;
            }
        } else {
            pause();
        }
    }
    libusb_release_interface(handle, static_cast<int>(interface));  // binds a detached kernel driver again
    libusb_close(handle);
    libusb_exit(ctx);
    return 0;
}
