#include "TestBroker.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace testbroker {

const Value* InstData::find(const std::string& name) const
{
    for (const auto& property : properties) {
        if (property.first == name) {
            return &property.second;
        }
    }
    return nullptr;
}

struct TestBroker::Object {
    virtual ~Object() = default;
    TestBroker* owner = nullptr;
};

namespace {

CMPIStatus Ok()
{
    CMPIStatus status;
    status.rc = CMPI_RC_OK;
    status.msg = nullptr;
    return status;
}

CMPIStatus Fail(CMPIrc rc)
{
    CMPIStatus status;
    status.rc = rc;
    status.msg = nullptr;
    return status;
}

void SetRc(CMPIStatus* rc, CMPIrc code)
{
    if (rc != nullptr) {
        rc->rc = code;
        rc->msg = nullptr;
    }
}

struct StrObj : TestBroker::Object {
    CMPIString hdr;
    std::string text;
};
struct PathObj : TestBroker::Object {
    CMPIObjectPath hdr;
    PathData data;
};
struct InstObj : TestBroker::Object {
    CMPIInstance hdr;
    InstData data;
    int ordinal = 0;
};
struct ArrObj : TestBroker::Object {
    CMPIArray hdr;
    std::vector<Value> elements;
};
struct DtObj : TestBroker::Object {
    CMPIDateTime hdr;
    uint64_t usec = 0;
};
struct ResObj : TestBroker::Object {
    CMPIResult hdr;
    std::vector<PathData> paths;
    std::vector<InstData> instances;
    int done = 0;
};
struct CtxObj : TestBroker::Object {
    CMPIContext hdr;
};

template <class T, class H>
T* From(const H* header)
{
    return header != nullptr ? static_cast<T*>(header->hdl) : nullptr;
}

TestBroker* BrokerOf(const CMPIBroker* mb)
{
    return static_cast<TestBroker*>(mb->hdl);
}

}  // namespace

// The C callbacks; a friend so that they can make objects and record.
struct Callbacks {
    static CMPIStringFT stringFT;
    static CMPIObjectPathFT pathFT;
    static CMPIInstanceFT instanceFT;
    static CMPIArrayFT arrayFT;
    static CMPIDateTimeFT dateTimeFT;
    static CMPIResultFT resultFT;
    static CMPIContextFT contextFT;

    static StrObj* NewString(TestBroker* b, const std::string& text)
    {
        StrObj* s = b->make<StrObj>();
        s->hdr.hdl = s;
        s->hdr.ft = &stringFT;
        s->text = text;
        return s;
    }

    static PathObj* NewPath(TestBroker* b, const std::string& ns, const std::string& cls)
    {
        PathObj* p = b->make<PathObj>();
        p->hdr.hdl = p;
        p->hdr.ft = &pathFT;
        p->data.nameSpace = ns;
        p->data.className = cls;
        return p;
    }

    static Value ToValue(const CMPIValue* value, CMPIType type)
    {
        Value v;
        v.type = type;
        if (value == nullptr) {
            return v;
        }
        v.null = false;
        switch (type) {
        case CMPI_chars:
            v.text = reinterpret_cast<const char*>(value);
            break;
        case CMPI_string: {
            StrObj* s = From<StrObj>(value->string);
            if (s != nullptr) {
                v.text = s->text;
            } else {
                v.null = true;
            }
            break;
        }
        case CMPI_boolean:
            v.boolean = value->boolean != 0;
            break;
        case CMPI_uint16:
            v.number = value->uint16;
            break;
        case CMPI_uint32:
            v.number = value->uint32;
            break;
        case CMPI_uint64:
            v.number = value->uint64;
            break;
        case CMPI_charsA:
        case CMPI_stringA: {
            ArrObj* a = From<ArrObj>(value->array);
            if (a != nullptr) {
                for (const Value& e : a->elements) {
                    v.texts.push_back(e.text);
                }
            }
            break;
        }
        case CMPI_instance: {
            InstObj* i = From<InstObj>(value->inst);
            if (i != nullptr) {
                v.instance = std::make_shared<InstData>(i->data);
            }
            break;
        }
        case CMPI_dateTime: {
            DtObj* d = From<DtObj>(value->dateTime);
            v.number = d != nullptr ? d->usec : 0;
            break;
        }
        default:
            break;
        }
        return v;
    }

    // String
    static char* GetCharPtr(const CMPIString* s, CMPIStatus* rc)
    {
        SetRc(rc, CMPI_RC_OK);
        return const_cast<char*>(From<StrObj>(s)->text.c_str());
    }

    // Object path
    static CMPIString* GetNameSpace(const CMPIObjectPath* op, CMPIStatus* rc)
    {
        PathObj* p = From<PathObj>(op);
        Faults& f = p->owner->faults;
        if (f.nameSpaceStatus != CMPI_RC_OK) {
            SetRc(rc, f.nameSpaceStatus);
            return nullptr;
        }
        SetRc(rc, CMPI_RC_OK);
        if (f.nullNameSpaceText) {
            return nullptr;
        }
        return &NewString(p->owner, p->data.nameSpace)->hdr;
    }
    static CMPIString* GetClassName(const CMPIObjectPath* op, CMPIStatus* rc)
    {
        PathObj* p = From<PathObj>(op);
        if (p->owner->faults.classNameStatus != CMPI_RC_OK) {
            SetRc(rc, p->owner->faults.classNameStatus);
            return nullptr;
        }
        SetRc(rc, CMPI_RC_OK);
        return &NewString(p->owner, p->data.className)->hdr;
    }
    static CMPIStatus AddKey(CMPIObjectPath* op, const char* name, const CMPIValue* value,
                             CMPIType type)
    {
        From<PathObj>(op)->data.keys.emplace_back(name, ToValue(value, type));
        return Ok();
    }
    static CMPIData GetKey(const CMPIObjectPath* op, const char* name, CMPIStatus* rc)
    {
        PathObj* p = From<PathObj>(op);
        CMPIData data;
        std::memset(&data, 0, sizeof(data));
        for (const auto& key : p->data.keys) {
            if (key.first != name) {
                continue;
            }
            SetRc(rc, CMPI_RC_OK);
            data.state = CMPI_keyValue;
            if (key.second.type == CMPI_chars || key.second.type == CMPI_string) {
                data.type = CMPI_string;
                data.value.string = &NewString(p->owner, key.second.text)->hdr;
            } else {
                data.type = key.second.type;
                data.value.uint64 = key.second.number;
            }
            return data;
        }
        SetRc(rc, CMPI_RC_ERR_NOT_FOUND);
        data.state = CMPI_notFound | CMPI_nullValue;
        return data;
    }

    // Instance
    static CMPIStatus SetProperty(CMPIInstance* inst, const char* name, const CMPIValue* value,
                                  CMPIType type)
    {
        InstObj* i = From<InstObj>(inst);
        Faults& f = i->owner->faults;
        if (!f.refuseProperty.empty() && f.refuseProperty == name &&
            (f.refuseOnInstance == 0 || f.refuseOnInstance == i->ordinal)) {
            return Fail(f.refuseStatus);
        }
        Value v = ToValue(value, type);
        for (auto& property : i->data.properties) {
            if (property.first == name) {
                property.second = v;
                return Ok();
            }
        }
        i->data.properties.emplace_back(name, v);
        return Ok();
    }

    // Array
    static CMPIStatus SetElementAt(CMPIArray* ar, CMPICount index, const CMPIValue* value,
                                   CMPIType type)
    {
        ArrObj* a = From<ArrObj>(ar);
        if (index >= a->elements.size()) {
            return Fail(CMPI_RC_ERR_NOT_FOUND);
        }
        a->elements[index] = ToValue(value, type);
        return Ok();
    }

    // Result
    static CMPIStatus ReturnInstance(const CMPIResult* rslt, const CMPIInstance* inst)
    {
        ResObj* r = From<ResObj>(rslt);
        std::lock_guard<std::mutex> lock(r->owner->mutex_);
        r->instances.push_back(From<InstObj>(inst)->data);
        return Ok();
    }
    static CMPIStatus ReturnObjectPath(const CMPIResult* rslt, const CMPIObjectPath* op)
    {
        ResObj* r = From<ResObj>(rslt);
        std::lock_guard<std::mutex> lock(r->owner->mutex_);
        r->paths.push_back(From<PathObj>(op)->data);
        return Ok();
    }
    static CMPIStatus ReturnDone(const CMPIResult* rslt)
    {
        ResObj* r = From<ResObj>(rslt);
        std::lock_guard<std::mutex> lock(r->owner->mutex_);
        ++r->done;
        return Ok();
    }

    // Context
    static CMPIStatus ReleaseContext(CMPIContext* ctx)
    {
        TestBroker* b = From<CtxObj>(ctx)->owner;
        std::lock_guard<std::mutex> lock(b->mutex_);
        ++b->released_;
        return Ok();
    }

    // Broker
    static CMPIContext* PrepareAttachThread(const CMPIBroker* mb, const CMPIContext*)
    {
        TestBroker* b = BrokerOf(mb);
        CtxObj* c = b->make<CtxObj>();
        c->hdr.hdl = c;
        c->hdr.ft = &contextFT;
        std::lock_guard<std::mutex> lock(b->mutex_);
        ++b->prepared_;
        return &c->hdr;
    }
    static CMPIStatus AttachThread(const CMPIBroker* mb, const CMPIContext*)
    {
        TestBroker* b = BrokerOf(mb);
        std::lock_guard<std::mutex> lock(b->mutex_);
        if (b->faults.attachStatus != CMPI_RC_OK) {
            return Fail(b->faults.attachStatus);
        }
        ++b->attached_;
        return Ok();
    }
    static CMPIStatus DetachThread(const CMPIBroker* mb, const CMPIContext*)
    {
        TestBroker* b = BrokerOf(mb);
        std::lock_guard<std::mutex> lock(b->mutex_);
        ++b->detached_;
        return Ok();
    }
    static CMPIStatus DeliverIndication(const CMPIBroker* mb, const CMPIContext*, const char* ns,
                                        const CMPIInstance* ind)
    {
        TestBroker* b = BrokerOf(mb);
        std::lock_guard<std::mutex> lock(b->mutex_);
        if (b->faults.deliverStatus != CMPI_RC_OK) {
            return Fail(b->faults.deliverStatus);
        }
        b->delivered_.push_back(Delivered{ns != nullptr ? ns : "", From<InstObj>(ind)->data});
        return Ok();
    }
    static CMPIInstance* NewInstance(const CMPIBroker* mb, const CMPIObjectPath* op, CMPIStatus* rc)
    {
        TestBroker* b = BrokerOf(mb);
        InstObj* i = b->make<InstObj>();
        i->hdr.hdl = i;
        i->hdr.ft = &instanceFT;
        i->data.path = From<PathObj>(op)->data;
        std::lock_guard<std::mutex> lock(b->mutex_);
        i->ordinal = ++b->instancesMade_;
        SetRc(rc, CMPI_RC_OK);
        return &i->hdr;
    }
    static CMPIObjectPath* NewObjectPath(const CMPIBroker* mb, const char* ns, const char* cn,
                                         CMPIStatus* rc)
    {
        SetRc(rc, CMPI_RC_OK);
        return &NewPath(BrokerOf(mb), ns != nullptr ? ns : "", cn != nullptr ? cn : "")->hdr;
    }
    static CMPIString* NewStringCall(const CMPIBroker* mb, const char* data, CMPIStatus* rc)
    {
        SetRc(rc, CMPI_RC_OK);
        return &NewString(BrokerOf(mb), data != nullptr ? data : "")->hdr;
    }
    static CMPIArray* NewArray(const CMPIBroker* mb, CMPICount size, CMPIType type, CMPIStatus* rc)
    {
        ArrObj* a = BrokerOf(mb)->make<ArrObj>();
        a->hdr.hdl = a;
        a->hdr.ft = &arrayFT;
        a->elements.resize(size);
        for (Value& e : a->elements) {
            e.type = type;
        }
        SetRc(rc, CMPI_RC_OK);
        return &a->hdr;
    }
    static CMPIDateTime* NewDateTime(const CMPIBroker* mb, CMPIStatus* rc)
    {
        DtObj* d = BrokerOf(mb)->make<DtObj>();
        d->hdr.hdl = d;
        d->hdr.ft = &dateTimeFT;
        d->usec = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
        SetRc(rc, CMPI_RC_OK);
        return &d->hdr;
    }
    static CMPI_THREAD_TYPE NewThread(CMPI_THREAD_RETURN(CMPI_THREAD_CDECL* start)(void*),
                                      void* parm, int)
    {
        // The ext table has no broker argument: one scripted broker at a time.
        TestBroker* b = current;
        {
            std::lock_guard<std::mutex> lock(b->mutex_);
            if (b->faults.newThreadFails) {
                return nullptr;
            }
            ++b->threadsStarted_;
        }
        std::thread([b, start, parm] {
            start(parm);
            std::lock_guard<std::mutex> lock(b->mutex_);
            ++b->threadsEnded_;
            b->cv_.notify_all();
        }).detach();
        return reinterpret_cast<CMPI_THREAD_TYPE>(1);
    }

    static TestBroker* current;
};

TestBroker* Callbacks::current = nullptr;
CMPIStringFT Callbacks::stringFT;
CMPIObjectPathFT Callbacks::pathFT;
CMPIInstanceFT Callbacks::instanceFT;
CMPIArrayFT Callbacks::arrayFT;
CMPIDateTimeFT Callbacks::dateTimeFT;
CMPIResultFT Callbacks::resultFT;
CMPIContextFT Callbacks::contextFT;

template <class T>
T* TestBroker::make()
{
    auto object = std::make_unique<T>();
    T* raw = object.get();
    raw->owner = this;
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(std::move(object));
    return raw;
}

TestBroker::TestBroker()
{
    std::memset(&bft_, 0, sizeof(bft_));
    std::memset(&eft_, 0, sizeof(eft_));
    std::memset(&xft_, 0, sizeof(xft_));
    std::memset(&Callbacks::stringFT, 0, sizeof(Callbacks::stringFT));
    std::memset(&Callbacks::pathFT, 0, sizeof(Callbacks::pathFT));
    std::memset(&Callbacks::instanceFT, 0, sizeof(Callbacks::instanceFT));
    std::memset(&Callbacks::arrayFT, 0, sizeof(Callbacks::arrayFT));
    std::memset(&Callbacks::dateTimeFT, 0, sizeof(Callbacks::dateTimeFT));
    std::memset(&Callbacks::resultFT, 0, sizeof(Callbacks::resultFT));
    std::memset(&Callbacks::contextFT, 0, sizeof(Callbacks::contextFT));
    Callbacks::stringFT.ftVersion = 100;
    Callbacks::stringFT.getCharPtr = Callbacks::GetCharPtr;
    Callbacks::pathFT.ftVersion = 100;
    Callbacks::pathFT.getNameSpace = Callbacks::GetNameSpace;
    Callbacks::pathFT.getClassName = Callbacks::GetClassName;
    Callbacks::pathFT.addKey = Callbacks::AddKey;
    Callbacks::pathFT.getKey = Callbacks::GetKey;
    Callbacks::instanceFT.ftVersion = 100;
    Callbacks::instanceFT.setProperty = Callbacks::SetProperty;
    Callbacks::arrayFT.ftVersion = 100;
    Callbacks::arrayFT.setElementAt = Callbacks::SetElementAt;
    Callbacks::dateTimeFT.ftVersion = 100;
    Callbacks::resultFT.ftVersion = 100;
    Callbacks::resultFT.returnInstance = Callbacks::ReturnInstance;
    Callbacks::resultFT.returnObjectPath = Callbacks::ReturnObjectPath;
    Callbacks::resultFT.returnDone = Callbacks::ReturnDone;
    Callbacks::contextFT.ftVersion = 100;
    Callbacks::contextFT.release = Callbacks::ReleaseContext;

    bft_.brokerCapabilities = 0;
    bft_.brokerVersion = 100;
    bft_.brokerName = "TestBroker";
    bft_.prepareAttachThread = Callbacks::PrepareAttachThread;
    bft_.attachThread = Callbacks::AttachThread;
    bft_.detachThread = Callbacks::DetachThread;
    bft_.deliverIndication = Callbacks::DeliverIndication;
    eft_.ftVersion = 100;
    eft_.newInstance = Callbacks::NewInstance;
    eft_.newObjectPath = Callbacks::NewObjectPath;
    eft_.newString = Callbacks::NewStringCall;
    eft_.newArray = Callbacks::NewArray;
    eft_.newDateTime = Callbacks::NewDateTime;
    xft_.ftVersion = 100;
    xft_.newThread = Callbacks::NewThread;

    broker_.hdl = this;
    broker_.bft = &bft_;
    broker_.eft = &eft_;
    broker_.xft = &xft_;
    Callbacks::current = this;

    CtxObj* c = make<CtxObj>();
    c->hdr.hdl = c;
    c->hdr.ft = &Callbacks::contextFT;
    context_ = &c->hdr;
}

TestBroker::~TestBroker()
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(30), [this] { return threadsEnded_ == threadsStarted_; });
    Callbacks::current = nullptr;
}

CMPIObjectPath* TestBroker::path(const std::string& nameSpace, const std::string& className)
{
    return &Callbacks::NewPath(this, nameSpace, className)->hdr;
}

CMPIObjectPath* TestBroker::pathWithKey(const std::string& nameSpace, const std::string& className,
                                        const std::string& deviceId)
{
    CMPIObjectPath* op = path(nameSpace, className);
    Value key;
    key.type = CMPI_chars;
    key.null = false;
    key.text = deviceId;
    From<PathObj>(op)->data.keys.emplace_back("DeviceID", key);
    return op;
}

CMPIObjectPath* TestBroker::pathWithUintKey(const std::string& nameSpace,
                                            const std::string& className, uint32_t value)
{
    CMPIObjectPath* op = path(nameSpace, className);
    Value key;
    key.type = CMPI_uint32;
    key.null = false;
    key.number = value;
    From<PathObj>(op)->data.keys.emplace_back("DeviceID", key);
    return op;
}

CMPIResult* TestBroker::result()
{
    ResObj* r = make<ResObj>();
    r->hdr.hdl = r;
    r->hdr.ft = &Callbacks::resultFT;
    return &r->hdr;
}

std::vector<PathData> TestBroker::returnedPaths(const CMPIResult* result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return From<ResObj>(result)->paths;
}

std::vector<InstData> TestBroker::returnedInstances(const CMPIResult* result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return From<ResObj>(result)->instances;
}

int TestBroker::doneCount(const CMPIResult* result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return From<ResObj>(result)->done;
}

bool TestBroker::waitThreadsEnded(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return threadsEnded_ >= count; });
}

std::vector<Delivered> TestBroker::delivered()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

#define COUNTER(name, field)                   \
    int TestBroker::name()                     \
    {                                          \
        std::lock_guard<std::mutex> lock(mutex_); \
        return field;                          \
    }
COUNTER(prepared, prepared_)
COUNTER(attached, attached_)
COUNTER(detached, detached_)
COUNTER(released, released_)
COUNTER(threadsStarted, threadsStarted_)
#undef COUNTER

}  // namespace testbroker
