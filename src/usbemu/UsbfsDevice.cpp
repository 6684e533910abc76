#include "UsbfsDevice.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "MonitorFirmware.h"

namespace usbemu {
namespace {

constexpr std::size_t kSetupLength = 8;

// One submitted URB: the client's struct and buffer as umockdev resolved
// them (each resolve returns a new reference, kept until the URB is reaped).
struct Urb {
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    int status = 0;
    int actual = 0;
    std::vector<uint8_t> data;     // copied into the buffer when reaped
    bool vanishAfterReap = false;

    Urb() = default;
    Urb(const Urb&) = delete;
    Urb& operator=(const Urb&) = delete;
    ~Urb()
    {
        if (buffer != nullptr) {
            g_object_unref(buffer);
        }
        if (urb != nullptr) {
            g_object_unref(urb);
        }
    }
    usbdevfs_urb* client() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

using UrbPtr = std::unique_ptr<Urb>;

}  // namespace

// Everything the handler touches; shared between the UsbfsDevice and the
// signal connection so that a callback still running on the worker thread
// never sees it freed.
struct UsbfsDevice::State {
    std::shared_ptr<MonitorFirmware> firmware;
    std::function<void()> onVanish;
    std::mutex lock;              // the queues below
    std::deque<UrbPtr> waiting;   // IN URBs waiting for a report
    std::deque<UrbPtr> withheld;  // IN URBs that are never answered
    std::deque<UrbPtr> done;      // completed, waiting to be reaped
    int clients = 0;              // connected ioctl clients

    void disconnect();

    void pump();
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
};

namespace {

std::size_t DataLength(const UMockdevIoctlData* data)
{
    return data != nullptr && data->data_len > 0 ? static_cast<std::size_t>(data->data_len) : 0;
}

void Complete(UMockdevIoctlClient* client, int error)
{
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

template <typename T>
UMockdevIoctlData* Resolve(UMockdevIoctlData* arg)
{
    return umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    return (*state)->handle(client) ? TRUE : FALSE;
}

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer user)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    std::lock_guard<std::mutex> guard((*state)->lock);
    ++(*state)->clients;
}

void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer user)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    std::lock_guard<std::mutex> guard((*state)->lock);
    --(*state)->clients;
}

void ReleaseState(gpointer user, GClosure*)
{
    delete static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
}

}  // namespace

void UsbfsDevice::State::pump()
{
    while (!waiting.empty()) {
        Urb& urb = *waiting.front();
        std::size_t capacity = DataLength(urb.buffer);
        MonitorFirmware::ReadResult result = firmware->serveRead(capacity);
        if (result.state == MonitorFirmware::ReadResult::Wait) {
            return;
        }
        UrbPtr taken = std::move(waiting.front());
        waiting.pop_front();
        if (result.state == MonitorFirmware::ReadResult::Withhold) {
            withheld.push_back(std::move(taken));
            continue;
        }
        taken->status = result.status;
        taken->actual = static_cast<int>(result.data.size());
        taken->data = std::move(result.data);
        done.push_back(std::move(taken));
    }
}

void UsbfsDevice::State::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto urb = std::make_unique<Urb>();
    urb->urb = Resolve<usbdevfs_urb>(arg);
    if (urb->urb == nullptr) {
        Complete(client, EFAULT);
        return;
    }
    const usbdevfs_urb* request = urb->client();
    if (request->buffer_length > 0) {
        urb->buffer = umockdev_ioctl_data_resolve(urb->urb, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(request->buffer_length), nullptr);
        if (urb->buffer == nullptr) {
            Complete(client, EFAULT);
            return;
        }
    }
    std::size_t length = DataLength(urb->buffer);

    if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
        if (length < kSetupLength) {
            Complete(client, EINVAL);
            return;
        }
        const uint8_t* bytes = urb->buffer->data;
        MonitorFirmware::ControlResult result =
            firmware->control(bytes, bytes + kSetupLength, length - kSetupLength);
        if (result.submitError != 0) {
            Complete(client, result.submitError);
            return;
        }
        urb->status = result.status;
        urb->actual = result.status == 0 ? result.actual : 0;  // usbfs counts the data stage only
        urb->vanishAfterReap = result.vanish;
        done.push_back(std::move(urb));
        pump();  // the new command may answer reads already waiting
        Complete(client, 0);
        return;
    }
    if (request->type != USBDEVFS_URB_TYPE_INTERRUPT && request->type != USBDEVFS_URB_TYPE_BULK) {
        Complete(client, EINVAL);
        return;
    }
    int error = firmware->submitTransfer(request->endpoint);
    if (error != 0) {
        Complete(client, error);
        return;
    }
    if ((request->endpoint & 0x80) == 0) {
        // Data for an OUT endpoint is taken and ignored.
        urb->actual = static_cast<int>(length);
        done.push_back(std::move(urb));
    } else {
        waiting.push_back(std::move(urb));
        pump();
    }
    Complete(client, 0);
}

void UsbfsDevice::State::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (done.empty()) {
        Complete(client, firmware->gone() ? ENODEV : EAGAIN);
        return;
    }
    UrbPtr urb = std::move(done.front());
    done.pop_front();
    usbdevfs_urb* request = urb->client();
    request->status = urb->status;
    request->actual_length = urb->actual;
    if (!urb->data.empty() && urb->buffer != nullptr) {
        memcpy(urb->buffer->data, urb->data.data(), std::min(urb->data.size(), DataLength(urb->buffer)));
    }
    UMockdevIoctlData* pointer = Resolve<void*>(arg);
    if (pointer == nullptr) {
        Complete(client, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->urb);
    g_object_unref(pointer);
    Complete(client, 0);
    if (urb->vanishAfterReap && onVanish) {
        onVanish();
    }
}

void UsbfsDevice::State::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // The argument is the client's own URB pointer.
    gulong address = 0;
    memcpy(&address, arg->data, std::min(sizeof address, DataLength(arg)));
    for (std::deque<UrbPtr>* queue : {&waiting, &withheld}) {
        auto found = std::find_if(queue->begin(), queue->end(),
                                  [address](const UrbPtr& urb) { return urb->urb->client_addr == address; });
        if (found != queue->end()) {
            UrbPtr urb = std::move(*found);
            queue->erase(found);
            urb->status = -ENOENT;
            urb->actual = 0;
            urb->data.clear();
            done.push_back(std::move(urb));
            Complete(client, 0);
            return;
        }
    }
    Complete(client, EINVAL);
}

void UsbfsDevice::State::disconnect()
{
    std::lock_guard<std::mutex> guard(lock);
    for (std::deque<UrbPtr>* queue : {&waiting, &withheld}) {
        while (!queue->empty()) {
            UrbPtr urb = std::move(queue->front());
            queue->pop_front();
            urb->status = -ENODEV;
            urb->actual = 0;
            urb->data.clear();
            done.push_back(std::move(urb));
        }
    }
}

bool UsbfsDevice::State::handle(UMockdevIoctlClient* client)
{
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(lock);

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        int error = firmware->capabilities();
        if (error == 0) {
            UMockdevIoctlData* caps = Resolve<uint32_t>(arg);
            uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                             USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            memcpy(caps->data, &value, sizeof value);
            g_object_unref(caps);
        }
        Complete(client, error);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* data = Resolve<usbdevfs_getdriver>(arg);
        auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        std::string driver;
        int error = firmware->getDriver(query->interface, driver);
        if (error == 0) {
            memset(query->driver, 0, sizeof query->driver);
            memcpy(query->driver, driver.data(), std::min(driver.size(), sizeof query->driver - 1));
        }
        g_object_unref(data);
        Complete(client, error);
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data = Resolve<usbdevfs_ioctl>(arg);
        auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
        int error = ENOTTY;
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            error = firmware->disconnectDriver(static_cast<unsigned>(command->ifno));
        } else if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            error = firmware->connectDriver(static_cast<unsigned>(command->ifno));
        }
        g_object_unref(data);
        Complete(client, error);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* data = Resolve<unsigned int>(arg);
        unsigned interface = 0;
        memcpy(&interface, data->data, sizeof interface);
        g_object_unref(data);
        Complete(client, request == USBDEVFS_CLAIMINTERFACE ? firmware->claim(interface)
                                                            : firmware->release(interface));
        return true;
    }
    case USBDEVFS_SUBMITURB:
        if (firmware->gone()) {
            Complete(client, ENODEV);
        } else {
            submit(client, arg);
        }
        return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client, arg);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client, arg);
        return true;
    default:
        if (firmware->gone()) {
            Complete(client, ENODEV);
            return true;
        }
        return false;  // umockdev answers ENOTTY
    }
}

UsbfsDevice::UsbfsDevice(std::shared_ptr<MonitorFirmware> firmware, std::function<void()> onVanish)
{
    auto state = std::make_shared<State>();
    state->firmware = std::move(firmware);
    state->onVanish = std::move(onVanish);
    UMockdevIoctlBase* base = umockdev_ioctl_base_new();
    g_signal_connect_data(base, "handle-ioctl", G_CALLBACK(OnIoctl), new std::shared_ptr<State>(state),
                          ReleaseState, GConnectFlags(0));
    g_signal_connect_data(base, "client-connected", G_CALLBACK(OnClientConnected),
                          new std::shared_ptr<State>(state), ReleaseState, GConnectFlags(0));
    g_signal_connect_data(base, "client-vanished", G_CALLBACK(OnClientVanished),
                          new std::shared_ptr<State>(state), ReleaseState, GConnectFlags(0));
    handler = base;
    this->state = state;
}

UsbfsDevice::~UsbfsDevice()
{
    g_object_unref(static_cast<UMockdevIoctlBase*>(handler));
}

void* UsbfsDevice::ioctlHandler() const
{
    return handler;
}

void UsbfsDevice::disconnect()
{
    state->disconnect();
}

int UsbfsDevice::clients() const
{
    std::lock_guard<std::mutex> guard(state->lock);
    return state->clients;
}

}  // namespace usbemu
