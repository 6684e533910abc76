#include "BusControl.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <future>
#include <stdexcept>

#include "EmulatedBus.h"
#include "SoakMonitor.h"

using usbemu::EmulatedBus;

namespace {

// Plugs (true) or unplugs (false) soak monitor m.
void Apply(int m, bool plug)
{
    if (plug) {
        EmulatedBus::instance().plug(SoakMonitor::spec(m));
    } else {
        EmulatedBus::instance().unplug(SoakMonitor::name(m));
    }
}

// All `length` bytes through `io` (read or write), across EINTR and partial
// transfers; false on an error or the end of the pipe.
template <typename Io, typename Byte>
bool Whole(Io io, int fd, Byte* bytes, size_t length)
{
    while (length > 0) {
        ssize_t n = io(fd, bytes, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

BusControl::BusControl(bool served) : served_(served)
{
    if (!served_) {
        return;
    }
    if (pipe2(requests_, O_CLOEXEC) != 0 || pipe2(replies_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    // The child is forked right after this: the new thread must be done
    // starting (a sanitizer's allocator locked by a thread in mid-start
    // at the fork stays locked in the child for good).
    std::promise<void> started;
    std::future<void> up = started.get_future();
    server_ = std::thread([this, &started] {
        started.set_value();
        serve();
    });
    up.wait();
}

BusControl::~BusControl()
{
    if (!served_) {
        return;
    }
    stop_ = true;
    server_.join();
    for (int fd : {requests_[0], requests_[1], replies_[0], replies_[1]}) {
        close(fd);
    }
}

bool BusControl::set(int m, bool plug)
{
    if (!served_) {
        Apply(m, plug);
        return true;
    }
    unsigned char request[2] = {static_cast<unsigned char>(m), static_cast<unsigned char>(plug)};
    unsigned char reply = 0;
    if (!Whole(write, requests_[1], request, sizeof request) || !Whole(read, replies_[0], &reply, 1)) {
        // Without the bus the soak cannot go on.
        fprintf(stderr, "soak: lost the emulated bus\n");
        _exit(120);
    }
    return reply == 1;
}

void BusControl::serve()
{
    while (!stop_) {
        struct pollfd ready = {requests_[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) {
            continue;
        }
        unsigned char request[2];
        if (!Whole(read, requests_[0], request, sizeof request)) {
            return;
        }
        unsigned char reply = 1;
        try {
            Apply(request[0] % SoakMonitor::kCount, request[1] != 0);
        } catch (const std::exception& e) {
            fprintf(stderr, "soak: the bus refused: %s\n", e.what());
            reply = 0;
        }
        if (!Whole(write, replies_[1], &reply, 1)) {
            return;
        }
    }
}
