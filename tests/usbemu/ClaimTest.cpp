// Interface claims as usbfs keeps them: per open file of the device node,
// seen through the real libusb (two handles are two open files), through raw
// usbfs ioctls, and from a second process (pnlmon-sim-hold).
#include <gtest/gtest.h>
#include <libusb.h>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedBus.h"
#include "UsbHost.h"

extern char** environ;

namespace {

using usbemu::EmulatedBus;
using usbemu::MonitorSpec;

const char kHold[] = PNLMON_HOLD_PATH;

EmulatedBus& Bus()
{
    return EmulatedBus::instance();
}

// pnlmon-sim-hold holding interface 0 of a monitor, a process of its own.
class Holder {
public:
    // Starts it; false (with what it said) unless it reports the claim.
    bool start(int address, const std::vector<std::string>& extra, std::string& said)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> args{kHold};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("1");
        args.push_back(std::to_string(address));
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        int spawned = posix_spawn(&pid, kHold, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (spawned != 0) {
            close(out[0]);
            pid = -1;
            return false;
        }
        // Its first line, or the end of its output when it gives up.
        char buffer[256];
        std::size_t length = 0;
        pollfd wait{out[0], POLLIN, 0};
        while (length < sizeof buffer - 1 && poll(&wait, 1, 20000) > 0) {
            ssize_t got = read(out[0], buffer + length, 1);
            if (got <= 0 || buffer[length] == '\n') {
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        close(out[0]);
        said.assign(buffer, length);
        return said.rfind("held ", 0) == 0;
    }

    // Ends it with this signal; its exit status (128 + signal if killed).
    int stop(int signal)
    {
        if (pid < 0) {
            return -1;
        }
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    ~Holder() { stop(SIGKILL); }

    pid_t pid = -1;
};

class ClaimTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (libusb_device_handle* handle : handles) {
            libusb_close(handle);
        }
        for (int fd : fds) {
            close(fd);
        }
        Bus().unplugAll();
    }

    int Plug(bool driverBound = false, unsigned interfaces = 1)
    {
        MonitorSpec spec;
        spec.name = "m";
        spec.kernelDriverBound = driverBound;
        spec.numInterfaces = interfaces;
        Bus().plug(spec);
        address = Bus().address("m");
        return address;
    }

    // One more open file through libusb.
    libusb_device_handle* Open()
    {
        libusb_device_handle* handle = nullptr;
        EXPECT_EQ(UsbHost::get().open(address, &handle), 0);
        if (handle != nullptr) {
            handles.push_back(handle);
        }
        return handle;
    }

    void Close(libusb_device_handle* handle)
    {
        handles.erase(std::find(handles.begin(), handles.end(), handle));
        libusb_close(handle);
    }

    // One more open file, for raw usbfs ioctls.
    int OpenNode()
    {
        char path[64];
        snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", address);
        int fd = open(path, O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0) << strerror(errno);
        fds.push_back(fd);
        return fd;
    }

    // 0 or the errno of a usbfs ioctl.
    static int Ioctl(int fd, unsigned long request, void* arg)
    {
        return ioctl(fd, request, arg) == 0 ? 0 : errno;
    }

    // Waits (bounded) until the emulator has seen the file of an ended
    // process go: the socket's end reaches it asynchronously.
    static void WaitForOpenFiles(int count)
    {
        for (int i = 0; i < 500 && Bus().openFiles("m") != count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(Bus().openFiles("m"), count);
    }

    int address = -1;
    std::vector<libusb_device_handle*> handles;
    std::vector<int> fds;
};

TEST_F(ClaimTest, ClaimBelongsToTheFileThatMadeIt)
{
    Plug();
    libusb_device_handle* first = Open();
    libusb_device_handle* second = Open();
    EXPECT_EQ(Bus().openFiles("m"), 2);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    ASSERT_EQ(libusb_claim_interface(first, 0), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    // Held by usbfs: no kernel driver for libusb, and nothing it may detach.
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(second, 0), LIBUSB_ERROR_NOT_FOUND);
    // The holder's exchange works; the other's is refused at the submit.
    EXPECT_EQ(UsbHost::get().exchange(first, 0x01, 0, 1).result, 0);
    EXPECT_EQ(UsbHost::get().exchange(second, 0x01, 0, 1).result, LIBUSB_ERROR_IO);
    EXPECT_EQ(Bus().wire("m").size(), 1u);
    ASSERT_EQ(libusb_release_interface(first, 0), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    EXPECT_EQ(libusb_claim_interface(second, 0), 0);
    EXPECT_EQ(libusb_claim_interface(first, 0), LIBUSB_ERROR_BUSY);
    // Closing the holding file releases its claim.
    Close(second);
    EXPECT_EQ(Bus().openFiles("m"), 1);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    EXPECT_EQ(libusb_claim_interface(first, 0), 0);
}

TEST_F(ClaimTest, ReopenRightAfterTheCloseClaimsAgain)
{
    // A driver that opens, claims, reads and closes for every read: the
    // close of one round must never make the next round's claim busy.
    Plug(true);
    int busy = 0;
    for (int round = 0; round < 100; ++round) {
        libusb_device_handle* handle = Open();
        ASSERT_NE(handle, nullptr);
        libusb_set_auto_detach_kernel_driver(handle, 1);
        int claimed = libusb_claim_interface(handle, 0);
        busy += claimed == LIBUSB_ERROR_BUSY ? 1 : 0;
        if (claimed == 0 && round % 2 == 0) {
            // Every other round leaves the claim to the close.
            EXPECT_EQ(UsbHost::get().exchange(handle, 0x0D, 0, 1).result, 0);
            libusb_set_auto_detach_kernel_driver(handle, 0);
        }
        Close(handle);
    }
    EXPECT_EQ(busy, 0);
}

TEST_F(ClaimTest, RawClaimReleaseAndDriverQueries)
{
    Plug(true, 2);
    int a = OpenNode();
    int b = OpenNode();
    unsigned zero = 0, one = 1, five = 5;
    usbdevfs_getdriver query{};
    EXPECT_EQ(Ioctl(a, USBDEVFS_GETDRIVER, &query), 0);
    EXPECT_STREQ(query.driver, "usbhid");
    query.interface = 1;
    EXPECT_EQ(Ioctl(a, USBDEVFS_GETDRIVER, &query), ENODATA);
    query.interface = 5;
    EXPECT_EQ(Ioctl(a, USBDEVFS_GETDRIVER, &query), ENODATA);

    EXPECT_EQ(Ioctl(a, USBDEVFS_CLAIMINTERFACE, &zero), EBUSY);  // the kernel driver's
    EXPECT_EQ(Ioctl(a, USBDEVFS_CLAIMINTERFACE, &five), ENOENT);
    EXPECT_EQ(Ioctl(a, USBDEVFS_CLAIMINTERFACE, &one), 0);
    EXPECT_EQ(Ioctl(a, USBDEVFS_CLAIMINTERFACE, &one), 0);  // again from the same file
    EXPECT_EQ(Ioctl(b, USBDEVFS_CLAIMINTERFACE, &one), EBUSY);
    EXPECT_EQ(Ioctl(b, USBDEVFS_RELEASEINTERFACE, &one), EINVAL);  // not b's
    EXPECT_EQ(Ioctl(b, USBDEVFS_RELEASEINTERFACE, &zero), EINVAL);  // the kernel driver's
    EXPECT_EQ(Ioctl(b, USBDEVFS_RELEASEINTERFACE, &five), ENOENT);
    query.interface = 1;
    EXPECT_EQ(Ioctl(b, USBDEVFS_GETDRIVER, &query), 0);
    EXPECT_STREQ(query.driver, "usbfs");
    EXPECT_EQ(Ioctl(a, USBDEVFS_RELEASEINTERFACE, &one), 0);
    EXPECT_EQ(Ioctl(a, USBDEVFS_RELEASEINTERFACE, &one), EINVAL);  // twice

    // DISCONNECT_CLAIM as libusb's auto-detach sends it: everything but usbfs
    // is unbound, then the claim is made in the same step.
    usbdevfs_disconnect_claim claim{};
    claim.interface = 0;
    claim.flags = USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER;
    strcpy(claim.driver, "usbfs");
    EXPECT_EQ(Ioctl(a, USBDEVFS_DISCONNECT_CLAIM, &claim), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    EXPECT_EQ(Ioctl(b, USBDEVFS_DISCONNECT_CLAIM, &claim), EBUSY);  // held by usbfs
    claim.flags = USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER;
    strcpy(claim.driver, "usbhid");
    EXPECT_EQ(Ioctl(b, USBDEVFS_DISCONNECT_CLAIM, &claim), EBUSY);  // not usbhid
    claim.interface = 5;
    EXPECT_EQ(Ioctl(b, USBDEVFS_DISCONNECT_CLAIM, &claim), EINVAL);

    // The kernel driver is not bound again by the release (nor by a close).
    EXPECT_EQ(Ioctl(a, USBDEVFS_RELEASEINTERFACE, &zero), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    // CONNECT binds it and, as the kernel's, answers 1; then it is busy.
    usbdevfs_ioctl connect{0, USBDEVFS_CONNECT, nullptr};
    EXPECT_EQ(ioctl(b, USBDEVFS_IOCTL, &connect), 1);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");
    EXPECT_EQ(Ioctl(b, USBDEVFS_IOCTL, &connect), EBUSY);
    // DISCONNECT unbinds whatever holds it, also another file's claim.
    usbdevfs_ioctl disconnect{0, USBDEVFS_DISCONNECT, nullptr};
    EXPECT_EQ(Ioctl(b, USBDEVFS_IOCTL, &disconnect), 0);
    EXPECT_EQ(Ioctl(b, USBDEVFS_IOCTL, &disconnect), ENODATA);
    EXPECT_EQ(Ioctl(a, USBDEVFS_CLAIMINTERFACE, &zero), 0);
    EXPECT_EQ(Ioctl(b, USBDEVFS_IOCTL, &connect), EBUSY);
    EXPECT_EQ(Ioctl(b, USBDEVFS_IOCTL, &disconnect), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    EXPECT_EQ(Ioctl(a, USBDEVFS_RELEASEINTERFACE, &zero), EINVAL);  // a lost it

    // Arguments that point nowhere are refused, not followed.
    for (unsigned long request : {USBDEVFS_CLAIMINTERFACE, USBDEVFS_RELEASEINTERFACE, USBDEVFS_GETDRIVER,
                                  USBDEVFS_IOCTL, USBDEVFS_DISCONNECT_CLAIM}) {
        EXPECT_EQ(Ioctl(a, request, nullptr), EFAULT) << request;
    }
}

TEST_F(ClaimTest, UrbsBelongToTheFileThatSubmittedThem)
{
    Plug();
    int a = OpenNode();
    int b = OpenNode();
    uint8_t setReport[8 + 48] = {0x21, 0x09, 0x00, 0x02, 0, 0, 48, 0};
    setReport[8 + 1] = 0x01;  // inventory
    usbdevfs_urb control{};
    control.type = USBDEVFS_URB_TYPE_CONTROL;
    control.buffer = setReport;
    control.buffer_length = sizeof setReport;
    // The control request claims interface 0 for a on the way.
    ASSERT_EQ(Ioctl(a, USBDEVFS_SUBMITURB, &control), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    EXPECT_EQ(Ioctl(b, USBDEVFS_SUBMITURB, &control), EBUSY);

    usbdevfs_urb* reaped = nullptr;
    EXPECT_EQ(Ioctl(b, USBDEVFS_REAPURBNDELAY, &reaped), EAGAIN);  // a's, not b's
    EXPECT_EQ(Ioctl(a, USBDEVFS_REAPURBNDELAY, nullptr), EFAULT);   // kept for the next reap
    ASSERT_EQ(Ioctl(a, USBDEVFS_REAPURBNDELAY, &reaped), 0);
    EXPECT_EQ(reaped, &control);
    EXPECT_EQ(control.status, 0);
    EXPECT_EQ(control.actual_length, 48);

    uint8_t input[48] = {0};
    usbdevfs_urb read{};
    read.type = USBDEVFS_URB_TYPE_INTERRUPT;
    read.endpoint = 0x81;
    read.buffer = input;
    read.buffer_length = sizeof input;
    EXPECT_EQ(Ioctl(b, USBDEVFS_SUBMITURB, &read), EBUSY);
    EXPECT_EQ(Ioctl(b, USBDEVFS_DISCARDURB, &read), EINVAL);  // never b's
    ASSERT_EQ(Ioctl(a, USBDEVFS_SUBMITURB, &read), 0);
    // a goes away without reaping: its claim and its URB go with it.
    close(a);
    fds.erase(fds.begin());
    WaitForOpenFiles(1);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    EXPECT_EQ(Ioctl(b, USBDEVFS_REAPURBNDELAY, &reaped), EAGAIN);
    ASSERT_EQ(Ioctl(b, USBDEVFS_SUBMITURB, &read), 0);  // implicit claim
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    // Nothing is queued (a new command would be needed): b discards its read.
    ASSERT_EQ(Ioctl(b, USBDEVFS_DISCARDURB, &read), 0);
    ASSERT_EQ(Ioctl(b, USBDEVFS_REAPURBNDELAY, &reaped), 0);
    EXPECT_EQ(read.status, -ENOENT);
}

TEST_F(ClaimTest, AutoDetachGivesTheKernelDriverBackAtTheRelease)
{
    Plug(true);
    libusb_device_handle* handle = Open();
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");

    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x0D, 0, 1).result, 0);
    ASSERT_EQ(libusb_release_interface(handle, 0), 0);
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");

    // Without the auto-detach, a detached driver stays detached past the close.
    EXPECT_EQ(libusb_set_auto_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    Close(handle);
    EXPECT_EQ(Bus().interfaceHolder("m"), "");
}

TEST_F(ClaimTest, AnotherProcessHoldsUntilItEndsOrIsKilled)
{
    Plug(true);
    libusb_device_handle* handle = Open();
    std::string said;
    {
        Holder holder;
        ASSERT_TRUE(holder.start(address, {"--name", "kap_download"}, said)) << said;
        EXPECT_EQ(said, "held 1 " + std::to_string(address) + " pid " + std::to_string(holder.pid));
        EXPECT_EQ(Bus().openFiles("m"), 2);
        EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
        EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
        EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_NOT_FOUND);
        EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
        ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
        EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
        EXPECT_EQ(libusb_set_auto_detach_kernel_driver(handle, 0), 0);
        // A second holder cannot claim it either.
        Holder second;
        EXPECT_FALSE(second.start(address, {}, said));
        EXPECT_EQ(second.stop(0), 3);
        // It shows in /proc under its name.
        FILE* comm = fopen(("/proc/" + std::to_string(holder.pid) + "/comm").c_str(), "r");
        ASSERT_NE(comm, nullptr);
        char name[32] = {0};
        EXPECT_NE(fgets(name, sizeof name, comm), nullptr);
        fclose(comm);
        EXPECT_STREQ(name, "kap_download\n");
        // A clean end releases it and binds the kernel driver again.
        EXPECT_EQ(holder.stop(SIGTERM), 0);
        WaitForOpenFiles(1);
        EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");
    }
    {
        Holder holder;
        ASSERT_TRUE(holder.start(address, {}, said)) << said;
        EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
        // Killed: its file closes, the claim goes, the kernel driver stays
        // detached (nobody bound it again).
        EXPECT_EQ(holder.stop(SIGKILL), 128 + SIGKILL);
        WaitForOpenFiles(1);
        EXPECT_EQ(Bus().interfaceHolder("m"), "");
        EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
        EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, 0);
    }
    // The monitor is still held by us: a holder started now gets BUSY.
    Holder late;
    EXPECT_FALSE(late.start(address, {"--seconds", "1"}, said));
    EXPECT_EQ(late.stop(0), 3);
}

TEST_F(ClaimTest, HoldByAnotherProgramFromTheBus)
{
    Plug(true);
    libusb_device_handle* handle = Open();
    ASSERT_TRUE(Bus().holdInterface("m"));
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbfs");
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(UsbHost::get().exchange(handle, 0x01, 0, 1).result, LIBUSB_ERROR_IO);
    Bus().releaseHold("m");
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");  // it had detached the driver

    // For a time: busy until then, free afterwards.
    ASSERT_TRUE(Bus().holdInterface("m", std::chrono::milliseconds(200)));
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_NOT_FOUND);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Bus().interfaceHolder("m"), "usbhid");
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_FALSE(Bus().holdInterface("m"));  // an open file holds it
    EXPECT_FALSE(Bus().holdInterface("m", {}, 3));
    EXPECT_THROW(Bus().holdInterface("nobody"), std::out_of_range);
}

}  // namespace
