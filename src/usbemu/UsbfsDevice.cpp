#include "UsbfsDevice.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
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
    MonitorFirmware::FileId owner = MonitorFirmware::kNoFile;  // the file that submitted it

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
//
// Each umockdev ioctl client is one open file of the device node (the
// preload connects once per open(); a forked child shares its parent's
// connection, as it shares the open file). Like usbfs, claims and URBs
// belong to the file: a file reaps only its own URBs, and when it goes away
// its claims are released and its URBs dropped.
struct UsbfsDevice::State : std::enable_shared_from_this<UsbfsDevice::State> {
    struct File {
        MonitorFirmware::FileId id = MonitorFirmware::kNoFile;
        std::deque<UrbPtr> done;  // completed, waiting to be reaped by this file
    };

    std::shared_ptr<MonitorFirmware> firmware;
    std::function<void()> onVanish;
    std::mutex lock;              // everything below
    std::deque<UrbPtr> waiting;   // IN URBs waiting for a report, of every file
    std::deque<UrbPtr> withheld;  // IN URBs that are never answered
    std::map<UMockdevIoctlClient*, File> files;
    MonitorFirmware::FileId nextFile = 1;

    void disconnect();

    File& file(UMockdevIoctlClient* client);
    File* fileById(MonitorFirmware::FileId id);
    void finish(UrbPtr urb);
    void cancel(MonitorFirmware::FileId owner, int status);
    void connected(UMockdevIoctlClient* client);
    void vanished(UMockdevIoctlClient* client);

    void pump();
    bool handle(UMockdevIoctlClient* client, int attempt);
    void reply(UMockdevIoctlClient* client, int error);
    void retryLater(UMockdevIoctlClient* client);
    int attempt = 0;  // of the request being handled; see reply()
    GMainContext* loop = nullptr;  // umockdev's, where requests arrive (referenced)

    ~State()
    {
        if (loop != nullptr) {
            g_main_context_unref(loop);
        }
    }
    void settle();
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
    return (*state)->handle(client, 0) ? TRUE : FALSE;
}

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    (*state)->connected(client);
}

void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    (*state)->vanished(client);
}

void ReleaseState(gpointer user, GClosure*)
{
    delete static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
}

}  // namespace

namespace {

// umockdev 0.17 does not emit "client-vanished" when a client closes the
// node, but it drops the client object: its finalization is the close.
void OnClientFinalized(gpointer user, GObject* client)
{
    auto* state = static_cast<std::shared_ptr<UsbfsDevice::State>*>(user);
    (*state)->vanished(reinterpret_cast<UMockdevIoctlClient*>(client));
    delete state;
}

}  // namespace

UsbfsDevice::State::File& UsbfsDevice::State::file(UMockdevIoctlClient* client)
{
    File& entry = files[client];
    if (entry.id == MonitorFirmware::kNoFile) {
        entry.id = nextFile++;
        g_object_weak_ref(G_OBJECT(client), OnClientFinalized, new std::shared_ptr<State>(shared_from_this()));
    }
    return entry;
}

UsbfsDevice::State::File* UsbfsDevice::State::fileById(MonitorFirmware::FileId id)
{
    for (auto& [client, entry] : files) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

void UsbfsDevice::State::finish(UrbPtr urb)
{
    File* owner = fileById(urb->owner);
    if (owner != nullptr) {
        owner->done.push_back(std::move(urb));
    }
    // else the file is closed: nobody can reap it any more
}

void UsbfsDevice::State::cancel(MonitorFirmware::FileId owner, int status)
{
    for (std::deque<UrbPtr>* queue : {&waiting, &withheld}) {
        std::deque<UrbPtr> kept;
        while (!queue->empty()) {
            UrbPtr urb = std::move(queue->front());
            queue->pop_front();
            if (owner != MonitorFirmware::kNoFile && urb->owner != owner) {
                kept.push_back(std::move(urb));
                continue;
            }
            urb->status = status;
            urb->actual = 0;
            urb->data.clear();
            finish(std::move(urb));
        }
        *queue = std::move(kept);
    }
}

void UsbfsDevice::State::connected(UMockdevIoctlClient* client)
{
    std::lock_guard<std::mutex> guard(lock);
    file(client);
}

void UsbfsDevice::State::vanished(UMockdevIoctlClient* client)
{
    std::deque<UrbPtr> dropped;  // freed after the lock is given back
    std::lock_guard<std::mutex> guard(lock);
    auto found = files.find(client);
    if (found == files.end()) {
        return;  // seen already ("client-vanished" and the finalization)
    }
    MonitorFirmware::FileId id = found->second.id;
    dropped = std::move(found->second.done);  // its completed URBs go with it
    files.erase(found);
    for (std::deque<UrbPtr>* queue : {&waiting, &withheld}) {
        std::deque<UrbPtr> kept;
        for (UrbPtr& urb : *queue) {
            (urb->owner == id ? dropped : kept).push_back(std::move(urb));
        }
        *queue = std::move(kept);
    }
    firmware->releaseAll(id);
}

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
        finish(std::move(taken));
    }
}

void UsbfsDevice::State::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto urb = std::make_unique<Urb>();
    urb->owner = file(client).id;
    urb->urb = Resolve<usbdevfs_urb>(arg);
    if (urb->urb == nullptr) {
        reply(client, EFAULT);
        return;
    }
    const usbdevfs_urb* request = urb->client();
    if (request->buffer_length > 0) {
        urb->buffer = umockdev_ioctl_data_resolve(urb->urb, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(request->buffer_length), nullptr);
        if (urb->buffer == nullptr) {
            reply(client, EFAULT);
            return;
        }
    }
    std::size_t length = DataLength(urb->buffer);

    if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
        if (length < kSetupLength) {
            reply(client, EINVAL);
            return;
        }
        const uint8_t* bytes = urb->buffer->data;
        MonitorFirmware::ControlResult result =
            firmware->control(bytes, bytes + kSetupLength, length - kSetupLength, urb->owner);
        if (result.submitError != 0) {
            reply(client, result.submitError);
            return;
        }
        urb->status = result.status;
        urb->actual = result.status == 0 ? result.actual : 0;  // usbfs counts the data stage only
        urb->vanishAfterReap = result.vanish;
        finish(std::move(urb));
        pump();  // the new command may answer reads already waiting
        reply(client, 0);
        return;
    }
    if (request->type != USBDEVFS_URB_TYPE_INTERRUPT && request->type != USBDEVFS_URB_TYPE_BULK) {
        reply(client, EINVAL);
        return;
    }
    int error = firmware->submitTransfer(request->endpoint, urb->owner);
    if (error != 0) {
        reply(client, error);
        return;
    }
    if ((request->endpoint & 0x80) == 0) {
        // Data for an OUT endpoint is taken and ignored.
        urb->actual = static_cast<int>(length);
        finish(std::move(urb));
    } else {
        waiting.push_back(std::move(urb));
        pump();
    }
    reply(client, 0);
}

void UsbfsDevice::State::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    std::deque<UrbPtr>& done = file(client).done;
    if (done.empty()) {
        reply(client, firmware->gone() ? ENODEV : EAGAIN);
        return;
    }
    UMockdevIoctlData* pointer = Resolve<void*>(arg);
    if (pointer == nullptr) {
        reply(client, EFAULT);  // the URB stays for a reap that can take it
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
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->urb);
    g_object_unref(pointer);
    reply(client, 0);
    if (urb->vanishAfterReap && onVanish) {
        onVanish();
    }
}

void UsbfsDevice::State::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    // The argument is the client's own URB pointer.
    // Addresses are the client process's own, so only this file's URBs
    // can match.
    gulong address = 0;
    memcpy(&address, arg->data, std::min(sizeof address, DataLength(arg)));
    MonitorFirmware::FileId owner = file(client).id;
    for (std::deque<UrbPtr>* queue : {&waiting, &withheld}) {
        auto found = std::find_if(queue->begin(), queue->end(), [address, owner](const UrbPtr& urb) {
            return urb->owner == owner && urb->urb->client_addr == address;
        });
        if (found != queue->end()) {
            UrbPtr urb = std::move(*found);
            queue->erase(found);
            urb->status = -ENOENT;
            urb->actual = 0;
            urb->data.clear();
            finish(std::move(urb));
            reply(client, 0);
            return;
        }
    }
    reply(client, EINVAL);
}

void UsbfsDevice::State::disconnect()
{
    std::lock_guard<std::mutex> guard(lock);
    cancel(MonitorFirmware::kNoFile, -ENODEV);
}

// A file's end reaches the handler asynchronously: its socket's EOF waits
// in umockdev's loop (on this thread) until the client object is dropped. A
// process that closes the node and opens it again may therefore send a claim
// before its old file is gone, and would meet its own closed file's claim. A
// request refused only because another file holds the interface is
// therefore answered after the loop has run out of other work, a few times,
// before the EBUSY stands. (The kernel releases at the close itself.)
constexpr int kBusyRechecks = 4;

struct Retry {
    std::shared_ptr<UsbfsDevice::State> state;
    UMockdevIoctlClient* client;
    int attempt;
};

gboolean RetryRequest(gpointer data)
{
    auto* retry = static_cast<Retry*>(data);
    retry->state->handle(retry->client, retry->attempt);
    return G_SOURCE_REMOVE;
}

void FreeRetry(gpointer data)
{
    auto* retry = static_cast<Retry*>(data);
    g_object_unref(retry->client);
    delete retry;
}

void UsbfsDevice::State::reply(UMockdevIoctlClient* client, int error)
{
    if (error == EBUSY && firmware->takeBusyByFile() && attempt < kBusyRechecks) {
        retryLater(client);
        return;
    }
    Complete(client, error);
}

void UsbfsDevice::State::retryLater(UMockdevIoctlClient* client)
{
    auto* retry = new Retry{shared_from_this(), static_cast<UMockdevIoctlClient*>(g_object_ref(client)), attempt + 1};
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_LOW);
    g_source_set_callback(source, RetryRequest, retry, FreeRetry);
    g_source_attach(source, g_main_context_get_thread_default());
    g_source_unref(source);
}

bool UsbfsDevice::State::handle(UMockdevIoctlClient* client, int attemptNumber)
{
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(lock);
    attempt = attemptNumber;
    firmware->takeBusyByFile();
    if (loop == nullptr) {
        loop = g_main_context_ref_thread_default();
    }

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        int error = firmware->capabilities();
        if (error == 0) {
            UMockdevIoctlData* caps = Resolve<uint32_t>(arg);
            if (caps == nullptr) {
                Complete(client, EFAULT);  // the argument points nowhere
                return true;
            }
            uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                             USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            memcpy(caps->data, &value, sizeof value);
            g_object_unref(caps);
        }
        reply(client, error);
        return true;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* data = Resolve<usbdevfs_getdriver>(arg);
        if (data == nullptr) {
            Complete(client, EFAULT);  // the argument points nowhere
            return true;
        }
        auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        std::string driver;
        int error = firmware->getDriver(query->interface, driver);
        if (error == 0) {
            memset(query->driver, 0, sizeof query->driver);
            memcpy(query->driver, driver.data(), std::min(driver.size(), sizeof query->driver - 1));
        }
        g_object_unref(data);
        reply(client, error);
        return true;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data = Resolve<usbdevfs_ioctl>(arg);
        if (data == nullptr) {
            Complete(client, EFAULT);  // the argument points nowhere
            return true;
        }
        auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
        int error = ENOTTY;
        bool bound = false;
        MonitorFirmware::FileId unbound = MonitorFirmware::kNoFile;
        auto interface = static_cast<unsigned>(command->ifno);
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            error = firmware->disconnectDriver(interface, unbound);
        } else if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            error = firmware->connectDriver(interface, bound);
        }
        g_object_unref(data);
        if (unbound != MonitorFirmware::kNoFile && interface == 0) {
            cancel(unbound, -ENOENT);  // the unbound file's reads on that interface end
        }
        // The kernel answers a CONNECT that bound a driver with 1.
        umockdev_ioctl_client_complete(client, error != 0 ? -1 : (bound ? 1 : 0), error);
        return true;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        UMockdevIoctlData* data = Resolve<usbdevfs_disconnect_claim>(arg);
        if (data == nullptr) {
            Complete(client, EFAULT);  // the argument points nowhere
            return true;
        }
        auto* command = reinterpret_cast<usbdevfs_disconnect_claim*>(data->data);
        std::string driver(command->driver, strnlen(command->driver, sizeof command->driver));
        MonitorFirmware::FileId unbound = MonitorFirmware::kNoFile;
        int error = firmware->disconnectClaim(command->interface, command->flags, driver, file(client).id,
                                              unbound);
        g_object_unref(data);
        if (unbound != MonitorFirmware::kNoFile && command->interface == 0) {
            cancel(unbound, -ENOENT);
        }
        reply(client, error);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* data = Resolve<unsigned int>(arg);
        if (data == nullptr) {
            Complete(client, EFAULT);  // the argument points nowhere
            return true;
        }
        unsigned interface = 0;
        memcpy(&interface, data->data, sizeof interface);
        g_object_unref(data);
        MonitorFirmware::FileId id = file(client).id;
        if (request == USBDEVFS_CLAIMINTERFACE) {
            reply(client, firmware->claim(interface, id));
            return true;
        }
        int error = firmware->release(interface, id);
        if (error == 0 && interface == 0) {
            cancel(id, -ENOENT);  // its reads still in flight end with the claim
        }
        reply(client, error);
        return true;
    }
    case USBDEVFS_SUBMITURB:
        if (firmware->gone()) {
            reply(client, ENODEV);
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
            reply(client, ENODEV);
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

namespace {

// A pass through umockdev's loop after everything else that is ready there,
// repeated: see kBusyRechecks.
struct Settle {
    std::mutex lock;
    std::condition_variable done;
    int passes = 0;
    bool finished = false;
};

gboolean SettlePass(gpointer data)
{
    auto* settle = static_cast<std::shared_ptr<Settle>*>(data);
    std::lock_guard<std::mutex> guard((*settle)->lock);
    if (++(*settle)->passes < kBusyRechecks) {
        return G_SOURCE_CONTINUE;
    }
    (*settle)->finished = true;
    (*settle)->done.notify_all();
    return G_SOURCE_REMOVE;
}

void FreeSettle(gpointer data)
{
    delete static_cast<std::shared_ptr<Settle>*>(data);
}

}  // namespace

void UsbfsDevice::State::settle()
{
    GMainContext* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (loop == nullptr || g_main_context_is_owner(loop)) {
            return;  // never used, or called from umockdev's own thread
        }
        context = g_main_context_ref(loop);
    }
    auto settle = std::make_shared<Settle>();
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_LOW);
    g_source_set_callback(source, SettlePass, new std::shared_ptr<Settle>(settle), FreeSettle);
    g_source_attach(source, context);
    std::unique_lock<std::mutex> wait(settle->lock);
    if (!settle->done.wait_for(wait, std::chrono::seconds(2), [&] { return settle->finished; })) {
        g_source_destroy(source);  // the loop is stuck; answer with what is known
    }
    wait.unlock();
    g_source_unref(source);
    g_main_context_unref(context);
}

void UsbfsDevice::settle()
{
    state->settle();
}

std::function<void()> UsbfsDevice::settler() const
{
    std::shared_ptr<State> shared = state;
    return [shared] { shared->settle(); };
}

int UsbfsDevice::clients() const
{
    std::lock_guard<std::mutex> guard(state->lock);
    return static_cast<int>(state->files.size());
}

}  // namespace usbemu
