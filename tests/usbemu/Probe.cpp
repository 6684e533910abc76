// usbemu-probe: a small libusb program that pnlmon-sim runs in the tests.
//   usbemu-probe list          reads every monitor's inventory and prints
//                              "MONITOR vvvv:pppp serial=SSSSSSS" lines
//   usbemu-probe watch N...    prints "COUNT n" whenever the number of
//                              monitors changes; exits 0 once the counts
//                              N... were seen in this order, 1 after 20 s
#include <libusb.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsMonitor(const libusb_device_descriptor& d)
{
    return (d.idVendor == 0x04B3 && d.idProduct >= 0x4676 && d.idProduct <= 0x4679) ||
           (d.idVendor == 0x0F66 && d.idProduct == 0x467A);
}

int Count(libusb_context* ctx)
{
    libusb_device** all = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &all);
    int count = 0;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(all[i], &d) == 0 && IsMonitor(d)) {
            ++count;
        }
    }
    if (n >= 0) {
        libusb_free_device_list(all, 1);
    }
    return count;
}

std::string Serial(libusb_device* device)
{
    libusb_device_handle* handle = nullptr;
    int r = libusb_open(device, &handle);
    if (r != 0) {
        return std::string("error=") + libusb_error_name(r);
    }
    if (libusb_kernel_driver_active(handle, 0) == 1) {
        libusb_detach_kernel_driver(handle, 0);
    }
    std::string result;
    uint8_t report[48] = {0, 0x01};
    uint8_t input[48] = {0};
    int got = 0;
    if ((r = libusb_claim_interface(handle, 0)) != 0 ||
        (r = libusb_control_transfer(handle, 0x21, 0x09, 0x0200, 0, report, 48, 1000)) < 0 ||
        (r = libusb_interrupt_transfer(handle, 0x81, input, 48, &got, 1000)) != 0) {
        result = std::string("error=") + libusb_error_name(r);
    } else {
        result = "serial=" + std::string(reinterpret_cast<char*>(input) + 11, 7);
    }
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    return result;
}

int List(libusb_context* ctx)
{
    libusb_device** all = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &all);
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(all[i], &d) == 0 && IsMonitor(d)) {
            printf("MONITOR %04x:%04x %s\n", d.idVendor, d.idProduct, Serial(all[i]).c_str());
        }
    }
    if (n >= 0) {
        libusb_free_device_list(all, 1);
    }
    printf("DONE\n");
    return n >= 0 ? 0 : 1;
}

int Watch(libusb_context* ctx, const std::vector<int>& wanted)
{
    std::size_t matched = 0;
    int last = -1;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        int count = Count(ctx);
        if (count != last) {
            printf("COUNT %d\n", count);
            fflush(stdout);
            last = count;
            if (matched < wanted.size() && wanted[matched] == count && ++matched == wanted.size()) {
                return 0;
            }
        }
        usleep(20 * 1000);
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    libusb_context* ctx = nullptr;
    if (argc < 2 || libusb_init(&ctx) != 0) {
        fprintf(stderr, "usage: usbemu-probe list | watch N...\n");
        return 2;
    }
    int result = 2;
    if (strcmp(argv[1], "list") == 0) {
        result = List(ctx);
    } else if (strcmp(argv[1], "watch") == 0) {
        std::vector<int> wanted;
        for (int i = 2; i < argc; ++i) {
            wanted.push_back(atoi(argv[i]));
        }
        result = Watch(ctx, wanted);
    }
    libusb_exit(ctx);
    return result;
}
