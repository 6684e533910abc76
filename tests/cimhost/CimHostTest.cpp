#include "CimHostTestSupport.h"

#include "DateTimeObject.h"

#include <cstddef>
#include <cstring>

using namespace cimhost;
using namespace cimhost_test;

namespace {

const HostValue& Prop(const HostInstance& inst, const char* name)
{
    const HostValue* v = inst.find(name);
    if (v == nullptr) {
        ADD_FAILURE() << "no property " << name;
        static HostValue none;
        return none;
    }
    return *v;
}

TEST(CimHostLoad, ReportsMissingLibraryFactoryAndProvider)
{
    CimHost host(TestOptions());
    RequestResult none = host.enumerateInstanceNames(kNs, kClass);
    EXPECT_EQ(none.status.rc, CMPI_RC_ERR_FAILED);

    std::string error;
    EXPECT_FALSE(host.load("/nonexistent/libnothing.so", &error));
    EXPECT_FALSE(error.empty());

    CimHostOptions other = TestOptions();
    other.providerName = "NoSuchProvider";
    CimHost wrong(other);
    ASSERT_TRUE(wrong.load(PNLMON_TEST_PROVIDER, &error)) << error;
    RequestResult r = wrong.enumerateInstanceNames(kNs, kClass);
    EXPECT_EQ(r.status.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_NE(r.status.message.find("NoSuchProvider_Create_InstanceMI"), std::string::npos);
    EXPECT_FALSE(wrong.instanceMILoaded());
}

TEST_F(CimHostTest, FactoriesAreCalledLazilyOncePerMiType)
{
    EXPECT_EQ(host.instanceFactoryCalls(), 0u);
    EXPECT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    EXPECT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_EQ(host.instanceFactoryCalls(), 1u);
    EXPECT_EQ(host.indicationFactoryCalls(), 0u);
    EXPECT_TRUE(host.authorizeFilter(kIndication).ok());
    EXPECT_EQ(host.indicationFactoryCalls(), 1u);
}

TEST_F(CimHostTest, EnumerateInstanceNamesReturnsPathsWithStringKeys)
{
    RequestResult r = host.enumerateInstanceNames("ROOT/CIMV2", kClass);
    ASSERT_TRUE(r.ok()) << r.status.message;
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.doneCalls, 1u);
    ASSERT_EQ(r.paths.size(), 2u);
    EXPECT_EQ(r.paths[0].nameSpace, kNs);
    EXPECT_EQ(r.paths[0].className, kClass);
    ASSERT_EQ(r.paths[0].keys.size(), 1u);
    const HostValue* key = r.paths[1].findKey("Name");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->type, CMPI_string);    // read back as a string
    EXPECT_EQ(key->setType, CMPI_chars);  // the provider passed chars
    EXPECT_EQ(key->text, "beta");
    EXPECT_EQ(r.paths[0].toString(), "root/cimv2:Test_Item.Name=\"alpha\"");
}

TEST_F(CimHostTest, EnumerateInstancesReadsBackEveryValueType)
{
    const std::uint64_t before = DateTimeObject::NowUsec();
    RequestResult r = host.enumerateInstances(kNs, kClass);
    const std::uint64_t after = DateTimeObject::NowUsec();
    ASSERT_TRUE(r.ok()) << r.status.message;
    ASSERT_EQ(r.instances.size(), 2u);
    const HostInstance& a = r.instances[0];
    EXPECT_EQ(a.className(), kClass);
    EXPECT_EQ(a.path.findKey("Name")->text, "alpha");
    std::vector<std::string> names = a.propertyNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Name"); // set order kept
    EXPECT_EQ(names[1], "Label");

    EXPECT_EQ(Prop(a, "Name").text, "alpha");
    EXPECT_EQ(Prop(a, "Label").type, CMPI_string);
    EXPECT_EQ(Prop(a, "Label").setType, CMPI_string);
    EXPECT_EQ(Prop(a, "Label").text, "Item alpha");
    EXPECT_EQ(Prop(a, "U8").type, CMPI_uint8);
    EXPECT_EQ(Prop(a, "U8").uint, 200u);
    EXPECT_EQ(Prop(a, "U16").uint, 60000u);
    EXPECT_EQ(Prop(r.instances[1], "U16").uint, 60001u);
    EXPECT_EQ(Prop(a, "U32").uint, 4000000000u);
    EXPECT_EQ(Prop(a, "U64").uint, 18000000000000000000ull);
    EXPECT_EQ(Prop(a, "S8").sint, -100);
    EXPECT_EQ(Prop(a, "S16").sint, -30000);
    EXPECT_EQ(Prop(a, "S32").sint, -2000000000);
    EXPECT_EQ(Prop(a, "S64").sint, -9000000000000000000ll);
    EXPECT_EQ(Prop(a, "S64").type, CMPI_sint64);
    EXPECT_DOUBLE_EQ(Prop(a, "R32").real, 1.5);
    EXPECT_DOUBLE_EQ(Prop(a, "R64").real, -2.25);
    EXPECT_TRUE(Prop(a, "Flag").boolean);
    EXPECT_FALSE(Prop(r.instances[1], "Flag").boolean);
    EXPECT_EQ(Prop(a, "Letter").type, CMPI_char16);
    EXPECT_EQ(Prop(a, "Letter").uint, static_cast<unsigned>('A'));

    const HostValue& tags = Prop(a, "Tags");
    EXPECT_EQ(tags.type, CMPI_stringA);
    EXPECT_EQ(tags.setType, CMPI_charsA);
    EXPECT_EQ(tags.texts(), (std::vector<std::string>{"first", "alpha"}));
    const HostValue& codes = Prop(a, "Codes");
    EXPECT_EQ(codes.type, CMPI_uint16A);
    ASSERT_EQ(codes.elements.size(), 3u);
    EXPECT_EQ(codes.elements[2].uint, 30u);
    const HostValue& empty = Prop(a, "EmptyTags");
    EXPECT_FALSE(empty.null);
    EXPECT_TRUE(empty.elements.empty());

    const HostValue& created = Prop(a, "Created");
    EXPECT_EQ(created.type, CMPI_dateTime);
    EXPECT_FALSE(created.dateTime.interval);
    EXPECT_GE(created.dateTime.usec, before);
    EXPECT_LE(created.dateTime.usec, after);
    EXPECT_EQ(Prop(a, "Epoch").dateTime.usec, 1000000u);
    EXPECT_TRUE(Prop(a, "Uptime").dateTime.interval);
    EXPECT_EQ(Prop(a, "Uptime").dateTime.usec, (86400ull + 2 * 3600 + 3 * 60 + 4) * 1000000 + 5);

    const HostValue& child = Prop(a, "Child");
    ASSERT_EQ(child.type, CMPI_instance);
    ASSERT_TRUE(child.instance);
    EXPECT_EQ(child.instance->className(), "Test_Child");
    EXPECT_EQ(Prop(*child.instance, "Value").text, "child of alpha");
    const HostValue& owner = Prop(a, "Owner");
    ASSERT_TRUE(owner.ref);
    EXPECT_EQ(owner.ref->findKey("Name")->text, "alpha");
    EXPECT_TRUE(Prop(a, "Nothing").null);

    EXPECT_EQ(Prop(a, "Principal").text, "root");               // context entry
    EXPECT_EQ(Prop(a, "KeyType").uint, static_cast<unsigned>(CMPI_string)); // getKey type
}

TEST_F(CimHostTest, StatusCodesAndMessagesReachTheCaller)
{
    RequestResult ns = host.enumerateInstanceNames("root/other", kClass);
    EXPECT_EQ(ns.status.rc, CMPI_RC_ERR_INVALID_NAMESPACE);
    EXPECT_TRUE(ns.status.hasMessage);
    EXPECT_EQ(ns.status.message, "namespace root/other");
    EXPECT_EQ(host.enumerateInstances(kNs, "test_item").status.rc, CMPI_RC_ERR_INVALID_CLASS);
    RequestResult create = host.createInstance(HostObjectPath{"", kNs, kClass, {}}, HostInstance());
    EXPECT_EQ(create.status.rc, CMPI_RC_ERR_NOT_SUPPORTED);
    EXPECT_FALSE(create.status.hasMessage);
    EXPECT_EQ(host.execQuery(HostObjectPath{"", kNs, kClass, {}}, "SELECT * FROM Test_Item").status.rc,
              CMPI_RC_ERR_NOT_SUPPORTED);
}

TEST_F(CimHostTest, GetInstanceWithTextOtherTypedAndMissingKeys)
{
    RequestResult chars = host.getInstance(kNs, kClass, "Name", "beta");
    ASSERT_TRUE(chars.ok()) << chars.status.message;
    ASSERT_EQ(chars.instances.size(), 1u);
    EXPECT_EQ(Prop(chars.instances[0], "Name").text, "beta");

    RequestResult str = host.getInstance(kNs, kClass, "name", "alpha", CMPI_string);
    ASSERT_TRUE(str.ok());
    EXPECT_EQ(str.instances.size(), 1u);

    RequestResult missing = host.getInstance(kNs, kClass, "Name", "gamma");
    EXPECT_EQ(missing.status.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_EQ(missing.status.message, "no item gamma");
    EXPECT_TRUE(missing.instances.empty());

    RequestResult number = host.getInstance(kNs, kClass, "Name", HostValue::Uint(CMPI_uint32, 7));
    EXPECT_EQ(number.status.rc, CMPI_RC_ERR_FAILED);
    EXPECT_EQ(number.status.message, "key type 160");

    RequestResult nokey = host.getInstance(HostObjectPath{"", kNs, kClass, {}});
    EXPECT_EQ(nokey.status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
}

TEST_F(CimHostTest, RefusingTheNthSetPropertyFailsThatInstanceOnly)
{
    const std::size_t base = host.counters().setPropertyCalls;
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    const std::size_t perInstance = (host.counters().setPropertyCalls - base) / 2;
    ASSERT_GT(perInstance, 5u);

    host.failSetProperty(static_cast<unsigned>(perInstance + 3));
    RequestResult r = host.enumerateInstances(kNs, kClass);
    EXPECT_EQ(r.status.rc, CMPI_RC_ERR_FAILED);
    EXPECT_EQ(r.status.message, "building beta failed with 1");
    ASSERT_EQ(r.instances.size(), 1u); // the first stays returned
    EXPECT_EQ(Prop(r.instances[0], "Name").text, "alpha");

    host.failSetProperty(1, CMPI_RC_ERR_ACCESS_DENIED);
    RequestResult denied = host.enumerateInstances(kNs, kClass);
    EXPECT_EQ(denied.status.message, "building alpha failed with 2");
    EXPECT_TRUE(denied.instances.empty());

    // One-shot: the next request is served again.
    EXPECT_TRUE(host.enumerateInstances(kNs, kClass).ok());
}

TEST_F(CimHostTest, IndicationsComeFromAttachedBrokerThreads)
{
    EXPECT_TRUE(host.authorizeFilter(kIndication).ok());
    EXPECT_EQ(host.authorizeFilter("CIM_Other").rc, CMPI_RC_ERR_INVALID_CLASS);
    EXPECT_EQ(host.mustPoll(kIndication).rc, CMPI_RC_ERR_NOT_SUPPORTED);
    const std::string query = "SELECT * FROM Test_Indication WHERE Name = 'x'";
    Subscribe(query);
    const std::size_t kept = host.longLivedObjects(); // the filter clone and the prepared context

    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForIndications(2, kWait));
    ASSERT_TRUE(host.waitForProviderThreads(kWait));
    std::vector<HostIndication> got = host.indications().take();
    ASSERT_EQ(got.size(), 2u);
    std::vector<std::string> sources;
    for (const auto& ind : got) {
        EXPECT_EQ(ind.nameSpace, kNs);
        EXPECT_TRUE(ind.attached);
        EXPECT_EQ(ind.instance.className(), kIndication);
        EXPECT_EQ(Prop(ind.instance, "Query").text, query);
        EXPECT_EQ(Prop(ind.instance, "IndicationTime").type, CMPI_dateTime);
        const HostValue& src = Prop(ind.instance, "SourceInstance");
        ASSERT_TRUE(src.instance);
        EXPECT_EQ(src.instance->className(), kClass);
        sources.push_back(Prop(*src.instance, "Name").text);
    }
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(sources, (std::vector<std::string>{"alpha", "beta"}));

    BrokerCounters c = host.counters();
    EXPECT_EQ(c.threadsStarted, 2u);
    EXPECT_EQ(c.attaches, 2u);
    EXPECT_EQ(c.detaches, 2u);
    EXPECT_EQ(c.preparedContexts, 3u);
    // detachThread freed each thread's prepared context and its objects.
    EXPECT_EQ(host.longLivedObjects(), kept);

    ASSERT_TRUE(host.deActivateFilter(kIndication, true).ok());
    EXPECT_EQ(host.longLivedObjects(), kept - 1); // the provider released its filter clone

    host.disableIndications();
    ASSERT_TRUE(host.activateFilter(kIndication, true).ok());
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_EQ(host.counters().threadsStarted, 2u); // disabled: nothing started
}

TEST_F(CimHostTest, InjectedBrokerFaultsReachTheProvider)
{
    Subscribe();
    const std::size_t kept = host.longLivedObjects();

    host.refuseDeliverIndication(true, CMPI_RC_ERR_ACCESS_DENIED);
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForProviderThreads(kWait));
    EXPECT_EQ(stats->deliverFailures, 2);
    EXPECT_EQ(stats->lastDeliverRc, CMPI_RC_ERR_ACCESS_DENIED);
    EXPECT_EQ(host.indications().size(), 0u);
    EXPECT_EQ(host.counters().refusedDeliveries, 2u);
    host.refuseDeliverIndication(false);

    host.failAttachThread(true);
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    ASSERT_TRUE(host.waitForProviderThreads(kWait));
    EXPECT_EQ(stats->attachFailures, 2);
    EXPECT_EQ(host.counters().detaches, 2u); // only the first round detached
    EXPECT_EQ(host.longLivedObjects(), kept); // the provider released the unattached contexts
    host.failAttachThread(false);

    host.failNewThread(true);
    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_EQ(stats->newThreadFailures, 2);
    EXPECT_EQ(host.counters().threadsRefused, 2u);
    EXPECT_EQ(host.broker().threads().running(), 0u);
    host.failNewThread(false);

    ASSERT_TRUE(host.enumerateInstances(kNs, kClass).ok());
    EXPECT_TRUE(host.waitForIndications(2, kWait));
}

TEST_F(CimHostTest, CleanupVetoKeepsAndTerminationUnloads)
{
    ASSERT_TRUE(host.loadIndicationMI().ok());
    EXPECT_EQ(host.cleanupIndicationMI(false).rc, CMPI_RC_DO_NOT_UNLOAD);
    EXPECT_TRUE(host.indicationMILoaded());
    EXPECT_TRUE(host.cleanupIndicationMI(true).ok());
    EXPECT_FALSE(host.indicationMILoaded());
    EXPECT_EQ(host.cleanupIndicationMI(true).rc, CMPI_RC_ERR_NOT_FOUND);

    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    EXPECT_TRUE(host.cleanupInstanceMI(false).ok());
    EXPECT_FALSE(host.instanceMILoaded());
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok()); // built afresh
    EXPECT_EQ(host.instanceFactoryCalls(), 2u);
    EXPECT_TRUE(host.unload());
    EXPECT_FALSE(host.isLoaded());
}

TEST_F(CimHostTest, IdleUnloadKeepsBothMIsWhenEitherRefuses)
{
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    ASSERT_TRUE(host.loadIndicationMI().ok());
    // The instance MI agrees, the indication MI refuses: both stay.
    EXPECT_EQ(host.idleUnload().rc, CMPI_RC_DO_NOT_UNLOAD);
    EXPECT_TRUE(host.instanceMILoaded());
    EXPECT_TRUE(host.indicationMILoaded());
    EXPECT_TRUE(host.cleanupIndicationMI(true).ok());
    // Only the agreeing instance MI is left: it goes.
    EXPECT_TRUE(host.idleUnload().ok());
    EXPECT_FALSE(host.instanceMILoaded());
    ASSERT_TRUE(host.enumerateInstanceNames(kNs, kClass).ok());
    EXPECT_EQ(host.instanceFactoryCalls(), 2u);
}

// ---- the broker itself, without a provider ---------------------------------

TEST(CimHostBroker, TablesAreCompleteExceptTheThreadSlotsARealBrokerLeavesNull)
{
    CimHost sfcbLike;
    const CMPIBroker* mb = sfcbLike.broker().cmpi();
    ASSERT_NE(mb->bft, nullptr);
    ASSERT_NE(mb->eft, nullptr);
    ASSERT_NE(mb->xft, nullptr);
    auto allSet = [](const void* table, std::size_t first, std::size_t size) {
        for (std::size_t off = first; off < size; off += sizeof(void*)) {
            void* slot;
            std::memcpy(&slot, static_cast<const char*>(table) + off, sizeof slot);
            if (slot == nullptr) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(allSet(mb->bft, 16, sizeof(CMPIBrokerFT)));
    EXPECT_TRUE(allSet(mb->eft, 8, sizeof(CMPIBrokerEncFT)));
    EXPECT_EQ(mb->xft->joinThread, nullptr);
    EXPECT_EQ(mb->xft->exitThread, nullptr);
    EXPECT_EQ(mb->xft->cancelThread, nullptr);
    EXPECT_EQ(mb->xft->threadSleep, nullptr);
    EXPECT_EQ(mb->xft->signalCondition, nullptr);
    EXPECT_NE(mb->xft->newThread, nullptr);

    CimHostOptions full;
    full.nullThreadSlots = false;
    CimHost complete(full);
    EXPECT_TRUE(allSet(complete.broker().cmpi()->xft, 8, sizeof(CMPIBrokerExtFT)));
}

TEST(CimHostBroker, ObjectsFollowTheConventionsOfRealBrokers)
{
    CimHost host;
    const CMPIBroker* mb = host.broker().cmpi();
    CMPIStatus st = {CMPI_RC_ERR_FAILED, nullptr};

    CMPIString* s = CMNewString(mb, "text", &st);
    ASSERT_EQ(st.rc, CMPI_RC_OK);
    EXPECT_STREQ(static_cast<const char*>(s->hdl), "text"); // hdl is the text
    EXPECT_EQ(CMGetCharPtr(s), s->hdl);

    CMPIArray* arr = CMNewArray(mb, 2, CMPI_chars, &st);
    EXPECT_EQ(CMGetArrayType(arr, nullptr), CMPI_string);
    EXPECT_EQ(CMGetArrayCount(arr, nullptr), 2u);
    EXPECT_TRUE(CMIsNullValue(CMGetArrayElementAt(arr, 0, nullptr)));
    EXPECT_EQ(CMSetArrayElementAt(arr, 0, "x", CMPI_chars).rc, CMPI_RC_OK);
    EXPECT_EQ(CMSetArrayElementAt(arr, 1, &s, CMPI_string).rc, CMPI_RC_OK);
    CMPIUint16 n = 1;
    EXPECT_EQ(CMSetArrayElementAt(arr, 1, &n, CMPI_uint16).rc, CMPI_RC_ERR_TYPE_MISMATCH);
    EXPECT_NE(CMSetArrayElementAt(arr, 2, "y", CMPI_chars).rc, CMPI_RC_OK);
    CMPIData e = CMGetArrayElementAt(arr, 1, &st);
    EXPECT_EQ(e.type, CMPI_string);
    EXPECT_STREQ(CMGetCharPtr(e.value.string), "text");
    EXPECT_EQ(CMNewArray(mb, 0xFFFFFFFFu, CMPI_uint8, &st), nullptr);
    EXPECT_NE(st.rc, CMPI_RC_OK);

    CMPIObjectPath* op = CMNewObjectPath(mb, "root/x", "C", &st);
    CMAddKey(op, "K", "v", CMPI_chars);
    CMPIData key = CMGetKey(op, "k", &st);
    EXPECT_EQ(key.type, CMPI_string);
    EXPECT_TRUE(CMIsKeyValue(key));
    CMGetKey(op, "Other", &st);
    EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_STREQ(CMGetCharPtr(CMObjectPathToString(op, nullptr)), "root/x:C.K=\"v\"");
    EXPECT_TRUE(CMClassPathIsA(mb, op, "c", nullptr));
    EXPECT_TRUE(CDIsOfType(mb, op, "CMPIObjectPath", nullptr));

    EXPECT_EQ(CMNewDateTimeFromChars(mb, "2024010203040", &st), nullptr);
    EXPECT_EQ(st.rc, CMPI_RC_ERR_INVALID_PARAMETER);
    CMPIDateTime* dt = CMNewDateTimeFromChars(mb, "19700101010000.000007+060", &st);
    ASSERT_NE(dt, nullptr);
    EXPECT_EQ(CMGetBinaryFormat(dt, nullptr), 7u); // 01:00 at +60 minutes is midnight UTC
    EXPECT_STREQ(CMGetCharPtr(CMGetStringFormat(dt, nullptr)), "19700101000000.000007+000");

    CMPIString* msg = CMGetMessage(mb, "id", "$0 of $1", &st, CMFmtArgs2(CMFmtSint(3), CMFmtChars("four")));
    EXPECT_STREQ(CMGetCharPtr(msg), "3 of four");
    EXPECT_EQ(CMLogMessage(mb, 1, "id", "text", nullptr).rc, CMPI_RC_ERR_NOT_SUPPORTED);
    EXPECT_EQ(CBEnumInstanceNames(mb, nullptr, op, &st), nullptr);
    EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);

    // Outside any request, objects live until the host ends; release frees
    // one at once and a second release is refused rather than a double free.
    const std::size_t live = host.longLivedObjects();
    CMPIString* extra = CMNewString(mb, "extra", nullptr);
    EXPECT_EQ(host.longLivedObjects(), live + 1);
    CMPIStringFT* ft = extra->ft; // the header itself is gone after the first release
    EXPECT_EQ(ft->release(extra).rc, CMPI_RC_OK);
    EXPECT_EQ(ft->release(extra).rc, CMPI_RC_ERR_INVALID_HANDLE);
    EXPECT_EQ(host.longLivedObjects(), live);
}

TEST(CimHostBroker, NewThreadRunsDetachedAndReturnsTheThreadId)
{
    CimHost host;
    static std::atomic<int> ran{0};
    auto body = [](void*) -> void* {
        ++ran;
        return nullptr;
    };
    void* id = host.broker().cmpi()->xft->newThread(body, nullptr, 1);
    EXPECT_NE(id, nullptr);
    ASSERT_TRUE(host.waitForProviderThreads(kWait));
    EXPECT_EQ(ran, 1);
    host.failNewThread(true);
    EXPECT_EQ(host.broker().cmpi()->xft->newThread(body, nullptr, 1), nullptr);
    ASSERT_TRUE(host.waitForProviderThreads(kWait));
    EXPECT_EQ(ran, 1);
}

} // namespace
