// A small CMPI provider used only to prove the embedded CIMOM host: class
// Test_Item in root/cimv2 with two instances carrying every kind of value,
// and indications of class Test_Indication delivered from broker threads.
// Built with our CMPI headers and their factory stub macros. It also answers
// for the class and indication names pnlmon-cimhost asks for (QAV_Display,
// key DeviceID, CIM_InstCreation, CIM_InstDeletion) so that the tool can be
// tested with it.
#include "HostTestProvider.h"

#include <cmpift.h>
#include <cmpimacs.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <thread>

namespace {

const CMPIBroker* _broker = nullptr;
HostTestProviderStats stats;

const char* const kNamespace = "root/cimv2";
const char* const kClass = "Test_Item";
const char* const kIndication = "Test_Indication";
const char* const kItems[] = {"alpha", "beta"};

CMPIContext* indCtx = nullptr;     // prepared at the first activation, never released
CMPISelectExp* filterCopy = nullptr; // clone of the active filter

std::string text(CMPIString* s)
{
    const char* p = s ? CMGetCharPtr(s) : nullptr;
    return p ? p : "";
}

CMPIStatus ok()
{
    CMPIStatus st = {CMPI_RC_OK, nullptr};
    return st;
}

CMPIStatus fail(CMPIrc rc, const std::string& message)
{
    CMPIStatus st;
    st.rc = rc;
    st.msg = CMNewString(_broker, message.c_str(), nullptr);
    return st;
}

// Namespace and class of a request path.
CMPIStatus checkPath(const CMPIObjectPath* op)
{
    CMPIStatus st = ok();
    std::string ns = text(CMGetNameSpace(op, &st));
    if (st.rc != CMPI_RC_OK) {
        return st;
    }
    if (strcasecmp(ns.c_str(), kNamespace) != 0) {
        return fail(CMPI_RC_ERR_INVALID_NAMESPACE, "namespace " + ns);
    }
    std::string cls = text(CMGetClassName(op, &st));
    if (cls != kClass && cls != "QAV_Display") {
        return fail(CMPI_RC_ERR_INVALID_CLASS, "class " + cls);
    }
    return ok();
}

CMPIObjectPath* itemPath(const char* name, CMPIStatus* st)
{
    CMPIObjectPath* op = CMNewObjectPath(_broker, kNamespace, kClass, st);
    if (op != nullptr && st->rc == CMPI_RC_OK) {
        CMAddKey(op, "Name", name, CMPI_chars);
    }
    return op;
}

#define SET(inst, name, value, type)                                              \
    do {                                                                          \
        CMPIStatus set_ = CMSetProperty((inst), (name), (value), (type));         \
        if (set_.rc != CMPI_RC_OK) {                                              \
            *st = set_;                                                           \
            return nullptr;                                                       \
        }                                                                         \
    } while (0)

// Builds the instance of one item; nullptr with *st set on a broker failure.
CMPIInstance* itemInstance(const CMPIContext* ctx, const char* name, int index, CMPIStatus* st)
{
    CMPIObjectPath* op = itemPath(name, st);
    if (st->rc != CMPI_RC_OK) {
        return nullptr;
    }
    CMPIInstance* inst = CMNewInstance(_broker, op, st);
    if (st->rc != CMPI_RC_OK) {
        return nullptr;
    }
    SET(inst, "Name", name, CMPI_chars);
    CMPIString* label = CMNewString(_broker, (std::string("Item ") + name).c_str(), nullptr);
    SET(inst, "Label", &label, CMPI_string);

    CMPIUint8 u8 = 200;
    CMPIUint16 u16 = static_cast<CMPIUint16>(60000 + index);
    CMPIUint32 u32 = 4000000000u;
    CMPIUint64 u64 = 18000000000000000000ull;
    CMPISint8 s8 = -100;
    CMPISint16 s16 = -30000;
    CMPISint32 s32 = -2000000000;
    CMPISint64 s64 = -9000000000000000000ll;
    CMPIReal32 r32 = 1.5f;
    CMPIReal64 r64 = -2.25;
    CMPIBoolean flag = index == 0 ? 1 : 0;
    CMPIChar16 letter = 'A';
    SET(inst, "U8", &u8, CMPI_uint8);
    SET(inst, "U16", &u16, CMPI_uint16);
    SET(inst, "U32", &u32, CMPI_uint32);
    SET(inst, "U64", &u64, CMPI_uint64);
    SET(inst, "S8", &s8, CMPI_sint8);
    SET(inst, "S16", &s16, CMPI_sint16);
    SET(inst, "S32", &s32, CMPI_sint32);
    SET(inst, "S64", &s64, CMPI_sint64);
    SET(inst, "R32", &r32, CMPI_real32);
    SET(inst, "R64", &r64, CMPI_real64);
    SET(inst, "Flag", &flag, CMPI_boolean);
    SET(inst, "Letter", &letter, CMPI_char16);

    CMPIArray* tags = CMNewArray(_broker, 2, CMPI_chars, st);
    if (st->rc != CMPI_RC_OK) {
        return nullptr;
    }
    CMSetArrayElementAt(tags, 0, "first", CMPI_chars);
    CMSetArrayElementAt(tags, 1, name, CMPI_chars);
    SET(inst, "Tags", &tags, CMPI_charsA);

    CMPIArray* codes = CMNewArray(_broker, 3, CMPI_uint16, st);
    for (CMPICount i = 0; i < 3; ++i) {
        CMPIUint16 c = static_cast<CMPIUint16>(10 * (i + 1));
        CMSetArrayElementAt(codes, i, &c, CMPI_uint16);
    }
    SET(inst, "Codes", &codes, CMPI_uint16A);
    CMPIArray* none = CMNewArray(_broker, 0, CMPI_chars, st);
    SET(inst, "EmptyTags", &none, CMPI_charsA);

    CMPIDateTime* now = CMNewDateTime(_broker, st);
    SET(inst, "Created", &now, CMPI_dateTime);
    CMPIDateTime* epoch = CMNewDateTimeFromBinary(_broker, 1000000ull, 0, st);
    SET(inst, "Epoch", &epoch, CMPI_dateTime);
    CMPIDateTime* uptime = CMNewDateTimeFromChars(_broker, "00000001020304.000005:000", st);
    SET(inst, "Uptime", &uptime, CMPI_dateTime);

    CMPIObjectPath* childPath = CMNewObjectPath(_broker, kNamespace, "Test_Child", st);
    CMPIInstance* child = CMNewInstance(_broker, childPath, st);
    std::string childValue = std::string("child of ") + name;
    SET(child, "Value", childValue.c_str(), CMPI_chars);
    SET(inst, "Child", &child, CMPI_instance);
    SET(inst, "Owner", &op, CMPI_ref);
    SET(inst, "Nothing", nullptr, CMPI_null);

    CMPIStatus entrySt = ok();
    CMPIData principal = CMGetContextEntry(ctx, CMPIPrincipal, &entrySt);
    if (entrySt.rc == CMPI_RC_OK && principal.type == CMPI_string && !CMIsNullValue(principal)) {
        SET(inst, "Principal", CMGetCharPtr(principal.value.string), CMPI_chars);
    }
    CMPIData key = CMGetKey(op, "Name", st);
    CMPIUint16 keyType = key.type;
    SET(inst, "KeyType", &keyType, CMPI_uint16);
    return inst;
}

// ---- indication threads ----------------------------------------------------

struct ThreadArgs {
    std::string name;
};

CMPI_THREAD_RETURN CMPI_THREAD_CDECL indicate(void* p)
{
    ThreadArgs* args = static_cast<ThreadArgs*>(p);
    CMPIContext* ctx = CBPrepareAttachThread(_broker, indCtx);
    CMPIStatus st = CBAttachThread(_broker, ctx);
    if (st.rc != CMPI_RC_OK) {
        ++stats.attachFailures;
        CMRelease(ctx);
    } else {
        CMPIStatus bst = ok();
        CMPIInstance* source = itemInstance(ctx, args->name.c_str(), 0, &bst);
        CMPIObjectPath* op = CMNewObjectPath(_broker, kNamespace, kIndication, &bst);
        CMPIInstance* ind = CMNewInstance(_broker, op, &bst);
        if (source != nullptr && ind != nullptr) {
            CMSetProperty(ind, "SourceInstance", &source, CMPI_instance);
            std::string query = filterCopy ? text(CMGetSelExpString(filterCopy, nullptr)) : "";
            CMSetProperty(ind, "Query", query.c_str(), CMPI_chars);
            CMPIDateTime* when = CMNewDateTime(_broker, nullptr);
            CMSetProperty(ind, "IndicationTime", &when, CMPI_dateTime);
            CMPIStatus dst = CBDeliverIndication(_broker, ctx, kNamespace, ind);
            stats.lastDeliverRc = dst.rc;
            if (dst.rc == CMPI_RC_OK) {
                ++stats.delivered;
            } else {
                ++stats.deliverFailures;
            }
        }
        CBDetachThread(_broker, ctx);
    }
    delete args;
    --stats.threadsRunning;
    return nullptr;
}

void announce(const char* name)
{
    if (!stats.enabled || stats.activeFilters <= 0 || indCtx == nullptr) {
        return;
    }
    ThreadArgs* args = new ThreadArgs{name};
    ++stats.threadsRunning;
    if (_broker->xft->newThread(indicate, args, 1) == nullptr) {
        ++stats.newThreadFailures;
        --stats.threadsRunning;
        delete args;
        return;
    }
    ++stats.threadsStarted;
}

} // namespace

// ---- instance MI -------------------------------------------------------------

static CMPIStatus TestCleanup(CMPIInstanceMI*, const CMPIContext*, CMPIBoolean)
{
    ++stats.instanceCleanups;
    CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestEnumInstanceNames(CMPIInstanceMI*, const CMPIContext*, const CMPIResult* rslt,
                                        const CMPIObjectPath* ref)
{
    CMPIStatus st = checkPath(ref);
    if (st.rc != CMPI_RC_OK) {
        return st;
    }
    for (const char* name : kItems) {
        CMPIObjectPath* op = itemPath(name, &st);
        if (st.rc != CMPI_RC_OK) {
            return st;
        }
        CMReturnObjectPath(rslt, op);
    }
    CMReturnDone(rslt);
    CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestEnumInstances(CMPIInstanceMI*, const CMPIContext* ctx, const CMPIResult* rslt,
                                    const CMPIObjectPath* ref, const char**)
{
    CMPIStatus st = checkPath(ref);
    if (st.rc != CMPI_RC_OK) {
        return st;
    }
    int index = 0;
    for (const char* name : kItems) {
        CMPIInstance* inst = itemInstance(ctx, name, index++, &st);
        if (inst == nullptr) {
            CMReturnDone(rslt);
            return fail(CMPI_RC_ERR_FAILED, std::string("building ") + name + " failed with " +
                                                std::to_string(static_cast<int>(st.rc)));
        }
        CMReturnInstance(rslt, inst);
        announce(name);
    }
    CMReturnDone(rslt);
    CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestGetInstance(CMPIInstanceMI*, const CMPIContext* ctx, const CMPIResult* rslt,
                                  const CMPIObjectPath* op, const char**)
{
    CMPIStatus st = checkPath(op);
    if (st.rc != CMPI_RC_OK) {
        return st;
    }
    CMPIData key = CMGetKey(op, "Name", &st);
    if (st.rc != CMPI_RC_OK) {
        key = CMGetKey(op, "DeviceID", &st);
    }
    if (st.rc != CMPI_RC_OK) {
        return fail(CMPI_RC_ERR_INVALID_PARAMETER, "no Name key");
    }
    if (key.type != CMPI_string) {
        return fail(CMPI_RC_ERR_FAILED, "key type " + std::to_string(key.type));
    }
    std::string wanted = text(key.value.string);
    int index = 0;
    for (const char* name : kItems) {
        if (wanted == name) {
            CMPIInstance* inst = itemInstance(ctx, name, index, &st);
            if (inst == nullptr) {
                return st;
            }
            CMReturnInstance(rslt, inst);
            CMReturnDone(rslt);
            CMReturn(CMPI_RC_OK);
        }
        ++index;
    }
    CMReturnDone(rslt);
    return fail(CMPI_RC_ERR_NOT_FOUND, "no item " + wanted);
}

static CMPIStatus TestCreateInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*, const CMPIObjectPath*,
                                     const CMPIInstance*)
{
    CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestModifyInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*, const CMPIObjectPath*,
                                     const CMPIInstance*, const char**)
{
    CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestDeleteInstance(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*, const CMPIObjectPath*)
{
    CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestExecQuery(CMPIInstanceMI*, const CMPIContext*, const CMPIResult*, const CMPIObjectPath*,
                                const char*, const char*)
{
    CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

// ---- indication MI -----------------------------------------------------------

static bool indicationClass(const CMPIObjectPath* classPath)
{
    CMPIStatus st = ok();
    std::string cls = text(CMGetClassName(classPath, &st));
    return st.rc == CMPI_RC_OK && (cls == kIndication || cls == "CIM_InstCreation" || cls == "CIM_InstDeletion");
}

static CMPIStatus TestIndicationCleanup(CMPIIndicationMI*, const CMPIContext*, CMPIBoolean terminating)
{
    if (!terminating) {
        CMReturn(CMPI_RC_DO_NOT_UNLOAD);
    }
    ++stats.indicationCleanups;
    // Threads use the broker and this library: let them end first.
    for (int i = 0; i < 500 && stats.threadsRunning > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (filterCopy != nullptr) {
        CMRelease(filterCopy);
        filterCopy = nullptr;
    }
    indCtx = nullptr; // owned by the broker
    stats.activeFilters = 0;
    stats.enabled = 0;
    CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestAuthorizeFilter(CMPIIndicationMI*, const CMPIContext*, const CMPISelectExp*, const char*,
                                      const CMPIObjectPath* classPath, const char*)
{
    CMReturn(indicationClass(classPath) ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_CLASS);
}

static CMPIStatus TestMustPoll(CMPIIndicationMI*, const CMPIContext*, const CMPISelectExp*, const char*,
                               const CMPIObjectPath*)
{
    CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestActivateFilter(CMPIIndicationMI*, const CMPIContext* ctx, const CMPISelectExp* filter,
                                     const char*, const CMPIObjectPath* classPath, CMPIBoolean)
{
    if (!indicationClass(classPath)) {
        CMReturn(CMPI_RC_ERR_INVALID_CLASS);
    }
    if (filterCopy == nullptr) {
        filterCopy = CMClone(filter, nullptr);
    }
    if (indCtx == nullptr) {
        indCtx = CBPrepareAttachThread(_broker, ctx);
    }
    ++stats.activeFilters;
    CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestDeActivateFilter(CMPIIndicationMI*, const CMPIContext*, const CMPISelectExp*, const char*,
                                       const CMPIObjectPath* classPath, CMPIBoolean)
{
    if (!indicationClass(classPath)) {
        CMReturn(CMPI_RC_ERR_INVALID_CLASS);
    }
    if (--stats.activeFilters <= 0 && filterCopy != nullptr) {
        CMRelease(filterCopy);
        filterCopy = nullptr;
    }
    CMReturn(CMPI_RC_OK);
}

static void TestEnableIndications(CMPIIndicationMI*, const CMPIContext*)
{
    stats.enabled = 1;
}

static void TestDisableIndications(CMPIIndicationMI*, const CMPIContext*)
{
    stats.enabled = 0;
}

static void InstanceFactoryHook()
{
    ++stats.instanceFactoryCalls;
    // Libraries chatter on standard output; the tool must keep it out of its results.
    std::printf("Logger created\n");
    std::fflush(stdout);
}

static void IndicationFactoryHook()
{
    ++stats.indicationFactoryCalls;
}

CMInstanceMIStub(Test, HostTestProvider, _broker, InstanceFactoryHook())

CMIndicationMIStub(Test, HostTestProvider, _broker, IndicationFactoryHook())

CMPI_EXTERN_C HostTestProviderStats* HostTestProvider_Stats()
{
    return &stats;
}
