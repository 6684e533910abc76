// The provider through its CMPI entry points, with a scripted broker and a
// scripted driver: lifecycle and use count, refused operations, the status
// table, the instance contents against the class MOF, get by DeviceID,
// filters and listener registration, and lifecycle indications.
#include <gtest/gtest.h>

#include <fstream>
#include <algorithm>
#include <sstream>
#include <string>

#include "ScriptedDriver.h"
#include "TestBroker.h"
#include "cmpidt.h"
#include "cmpift.h"

extern "C" {
CMPIInstanceMI* DisplayProvider_Create_InstanceMI(const CMPIBroker*, const CMPIContext*, CMPIStatus*);
CMPIIndicationMI* DisplayProvider_Create_IndicationMI(const CMPIBroker*, const CMPIContext*,
                                                      CMPIStatus*);
}

using testbroker::InstData;
using testbroker::PathData;
using testbroker::TestBroker;
using testbroker::Value;

namespace {

const char kLogFile[] = "/var/log/pnlmon/pnlmon.log";

// The log written since construction.
class LogTail {
public:
    LogTail() { start = size(); }
    std::string text() const
    {
        std::ifstream in(kLogFile, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        std::string content = all.str();
        return content.size() > start ? content.substr(start) : std::string();
    }
    bool has(const std::string& line) const { return text().find("\t" + line + "\r\n") != std::string::npos; }
    int count(const std::string& line) const
    {
        std::string t = text();
        std::string needle = "\t" + line + "\r\n";
        int n = 0;
        for (size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) {
            ++n;
        }
        return n;
    }

private:
    static size_t size()
    {
        std::ifstream in(kLogFile, std::ios::binary | std::ios::ate);
        return in ? static_cast<size_t>(in.tellg()) : 0;
    }
    size_t start;
};

struct Answer {
    CMPIrc rc;
    std::vector<PathData> paths;
    std::vector<InstData> instances;
    int done;
};

class ProviderTest : public testing::Test {
protected:
    void SetUp() override
    {
        ScriptedDriver::instance().reset();
        broker.reset(new TestBroker());
    }

    void TearDown() override
    {
        unload();
        broker.reset();
        ScriptedDriver::instance().reset();
    }

    void load()
    {
        CMPIStatus rc = {CMPI_RC_ERR_FAILED, nullptr};
        inst = DisplayProvider_Create_InstanceMI(broker->broker(), broker->context(), &rc);
        ASSERT_EQ(CMPI_RC_OK, rc.rc);
        rc.rc = CMPI_RC_ERR_FAILED;
        ind = DisplayProvider_Create_IndicationMI(broker->broker(), broker->context(), &rc);
        ASSERT_EQ(CMPI_RC_OK, rc.rc);
    }

    void unload()
    {
        if (inst != nullptr) {
            inst->ft->cleanup(inst, broker->context(), 1);
            inst = nullptr;
        }
        if (ind != nullptr) {
            ind->ft->cleanup(ind, broker->context(), 1);
            ind = nullptr;
        }
    }

    Answer names(const std::string& ns = "root/cimv2", const std::string& cls = "QAV_Display")
    {
        const CMPIResult* r = broker->result();
        CMPIStatus st = inst->ft->enumInstanceNames(inst, broker->context(), r, broker->path(ns, cls));
        return Answer{st.rc, broker->returnedPaths(r), {}, broker->doneCount(r)};
    }

    Answer instances(const std::string& ns = "root/cimv2", const std::string& cls = "QAV_Display")
    {
        const CMPIResult* r = broker->result();
        CMPIStatus st =
            inst->ft->enumInstances(inst, broker->context(), r, broker->path(ns, cls), nullptr);
        return Answer{st.rc, {}, broker->returnedInstances(r), broker->doneCount(r)};
    }

    Answer get(const std::string& id, const std::string& ns = "root/cimv2",
               const std::string& cls = "QAV_Display")
    {
        return getPath(broker->pathWithKey(ns, cls, id));
    }

    Answer getPath(const CMPIObjectPath* path)
    {
        const CMPIResult* r = broker->result();
        CMPIStatus st = inst->ft->getInstance(inst, broker->context(), r, path, nullptr);
        return Answer{st.rc, {}, broker->returnedInstances(r), broker->doneCount(r)};
    }

    CMPIrc authorize(const std::string& cls)
    {
        return ind->ft->authorizeFilter(ind, broker->context(), nullptr, cls.c_str(),
                                        broker->path("root/cimv2", cls), "owner")
            .rc;
    }
    CMPIrc activate(const std::string& cls, bool first = true)
    {
        return ind->ft->activateFilter(ind, broker->context(), nullptr, cls.c_str(),
                                       broker->path("root/cimv2", cls), first ? 1 : 0)
            .rc;
    }
    CMPIrc deactivate(const std::string& cls, bool last = true)
    {
        return ind->ft->deActivateFilter(ind, broker->context(), nullptr, "",
                                         broker->path("root/cimv2", cls), last ? 1 : 0)
            .rc;
    }
    void enable() { ind->ft->enableIndications(ind, broker->context()); }
    void disable() { ind->ft->disableIndications(ind, broker->context()); }

    // Subscribed and enabled, as a CIMOM leaves it after one subscription.
    void subscribe()
    {
        ASSERT_EQ(CMPI_RC_OK, authorize("CIM_InstCreation"));
        ASSERT_EQ(CMPI_RC_OK, activate("CIM_InstCreation"));
        enable();
    }

    ScriptedDriver& driver() { return ScriptedDriver::instance(); }

    std::unique_ptr<TestBroker> broker;
    CMPIInstanceMI* inst = nullptr;
    CMPIIndicationMI* ind = nullptr;
};

std::string KeyOf(const PathData& path)
{
    return path.keys.size() == 1 && path.keys[0].first == "DeviceID" ? path.keys[0].second.text
                                                                       : "<bad key>";
}

std::string TextOf(const InstData& instance, const std::string& name)
{
    const Value* v = instance.find(name);
    return v != nullptr ? v->text : "<missing>";
}

std::string TypeText(CMPIType type)
{
    switch (type) {
    case CMPI_chars:
    case CMPI_string:
        return "string";
    case CMPI_charsA:
    case CMPI_stringA:
        return "string[]";
    case CMPI_boolean:
        return "boolean";
    case CMPI_uint16:
        return "uint16";
    case CMPI_uint32:
        return "uint32";
    case CMPI_uint64:
        return "uint64";
    default:
        return "type " + std::to_string(type);
    }
}

// (name, type) of every property of QAV_Display.mof, in declaration order.
std::vector<std::pair<std::string, std::string>> MofProperties()
{
    std::ifstream in(PNLMON_SOURCE_DIR "/schema/QAV_Display.mof");
    std::vector<std::pair<std::string, std::string>> properties;
    const std::vector<std::string> types = {"string", "boolean", "uint16", "uint32", "uint64"};
    std::string line;
    while (std::getline(in, line)) {
        // "    uint16 ScanMode;" or "    string PowerManagementModes[];"
        std::istringstream words(line);
        std::string type;
        std::string name;
        words >> type >> name;
        if (std::find(types.begin(), types.end(), type) == types.end() || name.empty() ||
            name.back() != ';') {
            continue;
        }
        name.pop_back();
        bool array = name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0;
        if (array) {
            name.resize(name.size() - 2);
        }
        properties.emplace_back(name, array ? type + "[]" : type);
    }
    return properties;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, BothFactoriesShareOneProviderUntilTheLastCleanup)
{
    LogTail log;
    load();
    EXPECT_NE(nullptr, inst->hdl) << "the creating factory's MI points to the provider";
    EXPECT_EQ(nullptr, ind->hdl);
    EXPECT_EQ(1, driver().constructed);
    EXPECT_STREQ("instanceDisplayProvider", inst->ft->miName);
    EXPECT_STREQ("indicationDisplayProvider", ind->ft->miName);
    EXPECT_EQ(100, inst->ft->ftVersion);
    EXPECT_EQ(100, ind->ft->miVersion);

    // An idle unload is refused by both MIs while the indication MI is
    // held, in either order and as often as it is tried, and changes nothing.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, inst->ft->cleanup(inst, broker->context(), 0).rc);
        EXPECT_EQ(CMPI_RC_DO_NOT_UNLOAD, ind->ft->cleanup(ind, broker->context(), 0).rc);
    }
    EXPECT_FALSE(log.has("__drv_cleanup - use_count after decrement=1"));
    EXPECT_EQ(CMPI_RC_OK, names().rc);
    EXPECT_EQ(CMPI_RC_OK, inst->ft->cleanup(inst, broker->context(), 1).rc);
    EXPECT_TRUE(log.has("__drv_cleanup - use_count after decrement=1"));
    EXPECT_EQ(0, driver().destroyed);
    // A repeated cleanup of an MI already released takes no other MI's use.
    EXPECT_EQ(CMPI_RC_OK, inst->ft->cleanup(inst, broker->context(), 1).rc);
    EXPECT_EQ(0, driver().destroyed);

    EXPECT_EQ(CMPI_RC_OK, ind->ft->cleanup(ind, broker->context(), 1).rc);
    EXPECT_TRUE(log.has("__drv_cleanup - use_count after decrement=0"));
    EXPECT_TRUE(log.has("DisplayProvider - provider destroyed"));
    EXPECT_EQ(1, driver().destroyed);

    // No provider any more: the cleanup logs and answers OK.
    EXPECT_EQ(CMPI_RC_OK, ind->ft->cleanup(ind, broker->context(), 1).rc);
    EXPECT_TRUE(log.has("drvIndicationCleanup - provider=(nil), terminating=1"));
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, names().rc);

    // A later factory call builds everything afresh.
    inst = nullptr;
    ind = nullptr;
    load();
    EXPECT_EQ(2, driver().constructed);
    EXPECT_EQ(CMPI_RC_OK, names().rc);
}

TEST_F(ProviderTest, InstanceMIAloneUnloadsWhenIdle)
{
    CMPIStatus rc = {CMPI_RC_ERR_FAILED, nullptr};
    inst = DisplayProvider_Create_InstanceMI(broker->broker(), broker->context(), &rc);
    ASSERT_EQ(CMPI_RC_OK, rc.rc);
    EXPECT_EQ(CMPI_RC_OK, inst->ft->cleanup(inst, broker->context(), 0).rc);
    EXPECT_EQ(1, driver().destroyed);
    inst = nullptr;
}

TEST_F(ProviderTest, FactoryWhoseInitialiseThrowsAnswersFailureAndCountsNothing)
{
    LogTail log;
    driver().initThrows = true;
    CMPIStatus rc = {CMPI_RC_OK, nullptr};
    EXPECT_EQ(nullptr, DisplayProvider_Create_InstanceMI(broker->broker(), broker->context(), &rc));
    EXPECT_EQ(CMPI_RC_ERR_FAILED, rc.rc);
    EXPECT_TRUE(log.has("DisplayProvider_Create_InstanceMI - Unknown Exception"));
    EXPECT_EQ(1, driver().constructed);
    EXPECT_EQ(1, driver().destroyed) << "the half-built provider is freed";

    // The next factory builds afresh; the failed one's MI holds no use, so
    // the first cleanup cannot take the provider from the other MI.
    driver().initThrows = false;
    rc.rc = CMPI_RC_ERR_FAILED;
    ind = DisplayProvider_Create_IndicationMI(broker->broker(), broker->context(), &rc);
    ASSERT_EQ(CMPI_RC_OK, rc.rc);
    ASSERT_NE(nullptr, ind);
    rc.rc = CMPI_RC_ERR_FAILED;
    inst = DisplayProvider_Create_InstanceMI(broker->broker(), broker->context(), &rc);
    ASSERT_EQ(CMPI_RC_OK, rc.rc);
    EXPECT_EQ(2, driver().constructed);
    EXPECT_EQ(CMPI_RC_OK, inst->ft->cleanup(inst, broker->context(), 1).rc);
    EXPECT_EQ(1, driver().destroyed);
    EXPECT_EQ(CMPI_RC_OK, authorize("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_OK, ind->ft->cleanup(ind, broker->context(), 1).rc);
    EXPECT_EQ(2, driver().destroyed);
    inst = nullptr;
    ind = nullptr;
}

TEST_F(ProviderTest, RefusedOperationsNeedNoProvider)
{
    load();
    CMPIInstanceMI* mi = inst;
    unload();
    testing::internal::CaptureStdout();
    const CMPIContext* ctx = broker->context();
    const CMPIResult* r = broker->result();
    CMPIObjectPath* op = broker->path("root/cimv2", "QAV_Display");
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED, mi->ft->createInstance(mi, ctx, r, op, nullptr).rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED, mi->ft->modifyInstance(mi, ctx, r, op, nullptr, nullptr).rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED, mi->ft->deleteInstance(mi, ctx, r, op).rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED, mi->ft->execQuery(mi, ctx, r, op, "SELECT", "WQL").rc);
    EXPECT_EQ("drvCreateInstance - Unsupported\ndrvModifyInstance - Unsupported\n"
              "drvDeleteInstance - Unsupported\ndrvExecQuery - Unsupported\n",
              testing::internal::GetCapturedStdout());
}

TEST_F(ProviderTest, DriverInitialisationFailureLeavesTheMIsUnavailable)
{
    LogTail log;
    driver().initResult = DSP_INTERNAL_ERROR;
    load();
    EXPECT_TRUE(log.has(
        "DisplayProvider::initialize - Initialise Service Driver failed - dspcode=0x00000002"));
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, names().rc);
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, instances().rc);
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, get("x").rc);
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, authorize("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, activate("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE, deactivate("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_ERR_METHOD_NOT_AVAILABLE,
              ind->ft->mustPoll(ind, broker->context(), nullptr, "CIM_InstCreation",
                                broker->path("root/cimv2", "CIM_InstCreation"))
                  .rc);
    enable();
    disable();
    EXPECT_EQ(std::string::npos, log.text().find("DisplayProvider::enableIndications("));
    EXPECT_EQ(0, driver().enumerations);
}

// ---------------------------------------------------------------------------
// Status table of the instance operations
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, NamespaceAndClassChecks)
{
    load();
    driver().records = {MakeRecord("7427", "A10", "1234567")};
    for (bool enumNames : {true, false}) {
        auto call = [&](const char* ns, const char* cls) {
            return enumNames ? names(ns, cls) : instances(ns, cls);
        };
        EXPECT_EQ(CMPI_RC_OK, call("ROOT/CIMV2", "QAV_Display").rc);
        EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, call("root/cimv2", "qav_display").rc);
        EXPECT_EQ(CMPI_RC_ERR_INVALID_NAMESPACE, call("root/interop", "QAV_Display").rc);
        Answer both = call("root/interop", "qav_display");
        EXPECT_EQ(CMPI_RC_ERR_INVALID_NAMESPACE, both.rc) << "namespace is checked first";
        EXPECT_EQ(1, both.done) << "returnDone follows every answer";
    }
    EXPECT_EQ(CMPI_RC_OK, get("7427-A10-1234567", "Root/CimV2").rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, get("7427-A10-1234567", "root/cimv2", "QAV_DISPLAY").rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_NAMESPACE, get("7427-A10-1234567", "root", "QAV_Display").rc);
    EXPECT_EQ(3, driver().enumerations) << "only the served requests ask the driver";
}

TEST_F(ProviderTest, DriverRefusingGivesEmptyAnswers)
{
    load();
    driver().records = {MakeRecord("7427", "A10", "1234567")};
    for (DISPLAY_CODE code : {DSP_FLASH_IN_PROGRESS, DSP_NO_DEVICES, DSP_ENUM_FAILED}) {
        LogTail log;
        driver().listResult = code;
        Answer n = names();
        EXPECT_EQ(CMPI_RC_OK, n.rc);
        EXPECT_TRUE(n.paths.empty());
        Answer i = instances();
        EXPECT_EQ(CMPI_RC_OK, i.rc);
        EXPECT_TRUE(i.instances.empty());
        Answer g = get("7427-A10-1234567");
        EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, g.rc);
        EXPECT_TRUE(g.instances.empty());
        EXPECT_TRUE(log.has("DisplayProvider::getInstance - No instance found"));
        if (code == DSP_FLASH_IN_PROGRESS) {
            EXPECT_EQ(3, log.count("DisplayProvider::updateDisplays - failed, dspcode=0xb"));
        }
    }
}

TEST_F(ProviderTest, BrokerFailuresAndNullInputsAreAnsweredNotFollowed)
{
    load();
    driver().records = {MakeRecord("7427", "A10", "1234567")};

    broker->faults.nameSpaceStatus = CMPI_RC_ERR_INVALID_HANDLE;
    Answer a = names();
    EXPECT_EQ(CMPI_RC_ERR_INVALID_HANDLE, a.rc) << "the broker's own failure stands";
    EXPECT_EQ(1, a.done);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_HANDLE, get("7427-A10-1234567").rc);
    broker->faults.nameSpaceStatus = CMPI_RC_OK;

    broker->faults.classNameStatus = CMPI_RC_ERR_FAILED;
    EXPECT_EQ(CMPI_RC_ERR_FAILED, instances().rc);
    EXPECT_EQ(CMPI_RC_ERR_FAILED, authorize("CIM_InstCreation"));
    broker->faults.classNameStatus = CMPI_RC_OK;

    broker->faults.nullNameSpaceText = true;
    EXPECT_EQ(CMPI_RC_ERR_INVALID_NAMESPACE, names().rc);
    broker->faults.nullNameSpaceText = false;

    const CMPIResult* r = broker->result();
    EXPECT_EQ(CMPI_RC_ERR_INVALID_PARAMETER,
              inst->ft->enumInstanceNames(inst, broker->context(), r, nullptr).rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_PARAMETER,
              inst->ft->getInstance(inst, broker->context(), r, nullptr, nullptr).rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_PARAMETER,
              inst->ft->enumInstances(inst, broker->context(), nullptr,
                                      broker->path("root/cimv2", "QAV_Display"), nullptr)
                  .rc);
    EXPECT_EQ(CMPI_RC_ERR_INVALID_PARAMETER,
              ind->ft->activateFilter(ind, broker->context(), nullptr, nullptr, nullptr, 1).rc);
    EXPECT_EQ(0, driver().setListenerCalls);
}

// ---------------------------------------------------------------------------
// Instances
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, InstancesCarryTheMofPropertiesInOrderWithTheirTypes)
{
    auto mof = MofProperties();
    ASSERT_EQ(36u, mof.size()) << "schema/QAV_Display.mof";
    load();
    DisplayInformation record = MakeRecord("7427", "A10", "1234567");
    driver().records = {record, MakeRecord("7428", "B20", "7654321")};

    Answer n = names();
    ASSERT_EQ(CMPI_RC_OK, n.rc);
    ASSERT_EQ(2u, n.paths.size());
    EXPECT_EQ("7427-A10-1234567", KeyOf(n.paths[0]));
    EXPECT_EQ("7428-B20-7654321", KeyOf(n.paths[1]));
    EXPECT_EQ("root/cimv2", n.paths[0].nameSpace);
    EXPECT_EQ("QAV_Display", n.paths[0].className);

    Answer i = instances();
    ASSERT_EQ(CMPI_RC_OK, i.rc);
    ASSERT_EQ(2u, i.instances.size());
    const InstData& first = i.instances[0];
    ASSERT_EQ(mof.size(), first.properties.size());
    for (size_t k = 0; k < mof.size(); ++k) {
        EXPECT_EQ(mof[k].first, first.properties[k].first) << "property " << k + 1;
        EXPECT_EQ(mof[k].second, TypeText(first.properties[k].second.type)) << mof[k].first;
    }
    EXPECT_EQ("7427-A10-1234567", KeyOf(first.path));
    EXPECT_EQ("7427-A10-1234567", TextOf(first, "DeviceID"));
    EXPECT_EQ("Vostran Display: 7427-A10-1234567", TextOf(first, "Caption"));
    EXPECT_EQ("Vostran Display: 7427-A10-1234567", TextOf(first, "Description"));
    EXPECT_EQ("QAV_Display", TextOf(first, "CreationClassName"));
    EXPECT_EQ("Vostran POS Monitor Inventory Drivers", TextOf(first, "SystemName"));
    EXPECT_EQ("ComputerSystem", TextOf(first, "SystemCreationClassName"));
    EXPECT_EQ("Uknown", TextOf(first, "MechanicalRevision"));
    EXPECT_EQ(record.supportedResolutionsAndRefreshRates,
              first.find("SupportedResolutionsAndRefreshRates")->texts);
    EXPECT_EQ(record.powerManagementModes, first.find("PowerManagementModes")->texts);
    EXPECT_EQ(0x12345678u, first.find("HoursPoweredCount")->number);
    EXPECT_EQ(4242u, first.find("CurrentBacklightPowerOnHours")->number);
    EXPECT_TRUE(first.find("SupportsColor")->boolean);
    EXPECT_EQ(75u, first.find("CurrentBrightnessLevel")->number);
}

TEST_F(ProviderTest, EmptyIdentityFieldsAndEmptyLists)
{
    load();
    DisplayInformation blank;  // numbers 0, empty texts and lists
    driver().records = {blank};
    Answer i = instances();
    ASSERT_EQ(1u, i.instances.size());
    EXPECT_EQ("--", TextOf(i.instances[0], "DeviceID"));
    EXPECT_EQ("Vostran Display: --", TextOf(i.instances[0], "Caption"));
    const Value* modes = i.instances[0].find("PowerManagementModes");
    ASSERT_NE(nullptr, modes);
    EXPECT_FALSE(modes->null);
    EXPECT_TRUE(modes->texts.empty());
    EXPECT_EQ("", TextOf(i.instances[0], "Bus"));
    EXPECT_FALSE(i.instances[0].find("Bus")->null);
}

TEST_F(ProviderTest, BrokerRefusingAPropertyOfTheSecondDisplay)
{
    LogTail log;
    load();
    driver().records = {MakeRecord("7427", "A10", "1"), MakeRecord("7427", "A10", "2")};
    broker->faults.refuseProperty = "SupportsColor";
    broker->faults.refuseOnInstance = 2;
    Answer i = instances();
    EXPECT_EQ(CMPI_RC_ERR_FAILED, i.rc);
    ASSERT_EQ(1u, i.instances.size()) << "the first instance stays returned";
    EXPECT_TRUE(log.has("DisplayProvider::enumerateInstances - CMPIStatus 13, "));
    EXPECT_FALSE(log.has("DisplayProvider::enumerateInstances - No instances found"));
    EXPECT_EQ(1, i.done);
}

// ---------------------------------------------------------------------------
// Get instance
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, GetMatchesTheWholeIdentifier)
{
    load();
    DisplayInformation a = MakeRecord("7427", "A10", "1234567");
    DisplayInformation dup = MakeRecord("7427", "A10", "1234567");
    dup.firmwareRevision = "0999";
    driver().records = {MakeRecord("7427", "A10", "12345678"), a, dup};

    Answer g = get("7427-A10-1234567");
    ASSERT_EQ(CMPI_RC_OK, g.rc);
    ASSERT_EQ(1u, g.instances.size());
    EXPECT_EQ("0105", TextOf(g.instances[0], "FirmwareRevision")) << "the first listed wins";

    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, get("7427-A10").rc) << "a prefix is not an identifier";
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, get("").rc);
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, get("7427-A10-1234567 ").rc);

    driver().records.clear();
    driver().listResult = DSP_NO_DEVICES;
    EXPECT_EQ(CMPI_RC_ERR_NOT_FOUND, get("7427-A10-1234567").rc);
}

TEST_F(ProviderTest, NulPaddedSerialIsFoundByTheIdentifierClientsSee)
{
    load();
    DisplayInformation padded = MakeRecord("7427", "A10", std::string("12345\0\0", 7));
    driver().records = {padded};
    Answer n = names();
    ASSERT_EQ(1u, n.paths.size());
    EXPECT_EQ("7427-A10-12345", KeyOf(n.paths[0]));

    Answer g = get(KeyOf(n.paths[0]));
    ASSERT_EQ(CMPI_RC_OK, g.rc);
    ASSERT_EQ(1u, g.instances.size());
    EXPECT_EQ("7427-A10-12345", TextOf(g.instances[0], "DeviceID"));
    EXPECT_EQ("Vostran Display: 7427-A10-12345", TextOf(g.instances[0], "Caption"));
}

// A monitor's text reaches clients as valid UTF-8 without control
// characters: those and the bytes that are not UTF-8 appear as \xHH, in the
// key as in every other string; the log line shows every byte outside
// printable ASCII that way.
TEST_F(ProviderTest, MonitorTextIsEscapedForClientsAndTheLog)
{
    LogTail log;
    load();
    subscribe();
    DisplayInformation odd = MakeRecord("7427", "A\xc3\xa9", std::string("\x1b\n\xff\x7f\\\"1", 7));
    odd.manufacturerName = "\x1b[2J";
    odd.supportedVideoSources = {"VGA", "\xc2\x9b"};
    driver().created = {odd};
    driver().records = {odd};
    const std::string key = "7427-A\xc3\xa9-\\x1b\\x0a\\xff\\x7f\\\"1";
    Answer n = names();
    ASSERT_EQ(1u, n.paths.size());
    EXPECT_EQ(key, KeyOf(n.paths[0]));
    Answer g = get(key);
    ASSERT_EQ(1u, g.instances.size());
    EXPECT_EQ(key, TextOf(g.instances[0], "DeviceID"));
    EXPECT_EQ("\\x1b\\x0a\\xff\\x7f\\\"1", TextOf(g.instances[0], "SerialNumber"));
    EXPECT_EQ("A\xc3\xa9", TextOf(g.instances[0], "ModelName"));
    EXPECT_EQ("\\x1b[2J", TextOf(g.instances[0], "ManufacturerName"));
    EXPECT_EQ("Vostran Display: " + key, TextOf(g.instances[0], "Caption"));
    EXPECT_EQ((std::vector<std::string>{"VGA", "\\xc2\\x9b"}),
              g.instances[0].find("SupportedVideoSources")->texts);
    EXPECT_TRUE(broker->waitThreadsEnded(1));

    EXPECT_TRUE(log.has("DisplayProvider::DisplayCreated(7427,A\\xc3\\xa9,\\x1b\\x0a\\xff\\x7f\\\"1)"));
    // The key as a client sees it, its UTF-8 escaped for the log.
    EXPECT_TRUE(log.has("DisplayProvider::sendLifecycleIndication(0,7427-A\\xc3\\xa9-\\x1b\\x0a\\xff\\x7f\\\"1)"));
    std::string text = log.text();
    EXPECT_EQ(std::string::npos, text.find('\x1b'));
    EXPECT_EQ(std::string::npos, text.find('\xff'));
}

TEST_F(ProviderTest, GetWithANonStringKeyFails)
{
    LogTail log;
    load();
    driver().records = {MakeRecord("7427", "A10", "1234567")};
    Answer g = getPath(broker->pathWithUintKey("root/cimv2", "QAV_Display", 7427));
    EXPECT_EQ(CMPI_RC_ERR_FAILED, g.rc);
    EXPECT_TRUE(log.has("DisplayProvider::getInstance - CMPIStatus 0, "));
    EXPECT_TRUE(log.has("DisplayProvider::getInstance - No instance found"));

    // A path without the key at all.
    g = getPath(broker->path("root/cimv2", "QAV_Display"));
    EXPECT_EQ(CMPI_RC_ERR_FAILED, g.rc);
    EXPECT_TRUE(log.has("DisplayProvider::getInstance - CMPIStatus 6, "));
}

// ---------------------------------------------------------------------------
// Filters and listener registration
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, OnlyTheTwoLifecycleClassesAreAccepted)
{
    load();
    for (const char* cls : {"CIM_InstModification", "cim_instcreation", "QAV_Display", ""}) {
        EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, authorize(cls)) << cls;
        EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, activate(cls)) << cls;
        EXPECT_EQ(CMPI_RC_ERR_INVALID_CLASS, deactivate(cls)) << cls;
    }
    EXPECT_EQ(0, driver().setListenerCalls);
    EXPECT_EQ(0, driver().clearListenerCalls);
    EXPECT_EQ(CMPI_RC_OK, authorize("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_OK, authorize("CIM_InstDeletion"));
    EXPECT_EQ(CMPI_RC_ERR_NOT_SUPPORTED,
              ind->ft->mustPoll(ind, broker->context(), nullptr, "CIM_InstCreation",
                                broker->path("root/cimv2", "CIM_InstCreation"))
                  .rc);
}

TEST_F(ProviderTest, FilterCountDecidesListenerRegistration)
{
    LogTail log;
    load();
    // The count decides, not the first-activation flag.
    EXPECT_EQ(CMPI_RC_OK, activate("CIM_InstCreation", false));
    EXPECT_EQ(CMPI_RC_OK, activate("CIM_InstDeletion", false));
    EXPECT_EQ(1, driver().setListenerCalls);
    EXPECT_EQ(1, broker->prepared()) << "the indication context is prepared once";
    EXPECT_TRUE(log.has("DisplayProvider::activateFilter - current activeIndSubscriptions=2"));
    enable();

    EXPECT_EQ(CMPI_RC_OK, deactivate("CIM_InstDeletion"));
    EXPECT_NE(nullptr, driver().listener);
    EXPECT_EQ(CMPI_RC_OK, deactivate("CIM_InstCreation"));
    EXPECT_EQ(nullptr, driver().listener);
    EXPECT_TRUE(log.has("DisplayProvider::deActivateFilter - Last deActiviation of CIM_InstCreation"));

    // Enabling was cleared with the listener: a new activation alone
    // produces no indication.
    EXPECT_EQ(CMPI_RC_OK, activate("CIM_InstCreation"));
    EXPECT_EQ(1, broker->prepared());
    driver().created = {MakeRecord("7427", "A10", "1")};
    names();
    EXPECT_EQ(0, broker->threadsStarted());
    EXPECT_TRUE(log.has("DisplayProvider::DisplayCreated(7427,A10,1)"));
}

// A terminating indication cleanup with no subscription left must not
// leave the count below zero: the filters activated afterwards would then be
// miscounted, and ending one of two would drop the listener.
TEST_F(ProviderTest, IndicationCleanupWithoutSubscriptionsKeepsTheCountAtZero)
{
    LogTail log;
    load();
    EXPECT_EQ(CMPI_RC_OK, ind->ft->cleanup(ind, broker->context(), 1).rc);
    ind = nullptr;
    EXPECT_TRUE(log.has("DisplayProvider::indicationCleanup - current activeIndSubscriptions=0"));
    CMPIStatus rc = {CMPI_RC_ERR_FAILED, nullptr};
    ind = DisplayProvider_Create_IndicationMI(broker->broker(), broker->context(), &rc);
    ASSERT_EQ(CMPI_RC_OK, rc.rc);
    EXPECT_EQ(CMPI_RC_OK, activate("CIM_InstCreation"));
    EXPECT_EQ(CMPI_RC_OK, activate("CIM_InstDeletion", false));
    EXPECT_EQ(1, driver().setListenerCalls);
    EXPECT_EQ(CMPI_RC_OK, deactivate("CIM_InstDeletion", false));
    EXPECT_NE(nullptr, driver().listener) << "one subscription is still active";
    EXPECT_EQ(CMPI_RC_OK, deactivate("CIM_InstCreation"));
    EXPECT_EQ(nullptr, driver().listener);
    // More deactivations than activations leave it at zero too.
    EXPECT_EQ(CMPI_RC_OK, deactivate("CIM_InstCreation"));
    EXPECT_TRUE(log.has("DisplayProvider::deActivateFilter - current activeIndSubscriptions=0"));
    EXPECT_FALSE(log.has("DisplayProvider::deActivateFilter - current activeIndSubscriptions=-1"));
}

TEST_F(ProviderTest, IndicationCleanupWithTwoFiltersKeepsTheListener)
{
    LogTail log;
    load();
    activate("CIM_InstCreation");
    activate("CIM_InstDeletion");
    enable();
    EXPECT_EQ(CMPI_RC_OK, ind->ft->cleanup(ind, broker->context(), 1).rc);
    ind = nullptr;
    EXPECT_TRUE(log.has("DisplayProvider::indicationCleanup - current activeIndSubscriptions=1"));
    EXPECT_NE(nullptr, driver().listener);
    driver().created = {MakeRecord("7427", "A10", "1")};
    names();
    EXPECT_TRUE(broker->waitThreadsEnded(1));
    EXPECT_EQ(1u, broker->delivered().size()) << "indications stay enabled";
}

// ---------------------------------------------------------------------------
// Lifecycle indications
// ---------------------------------------------------------------------------

TEST_F(ProviderTest, ArrivalAndDepartureAreDelivered)
{
    load();
    subscribe();
    DisplayInformation gone = MakeRecord("7427", "A10", "1111111");
    gone.firmwareRevision = "0042";
    driver().deleted = {gone};
    driver().created = {MakeRecord("7428", "B20", "2222222")};
    driver().records = {MakeRecord("7428", "B20", "2222222")};
    ASSERT_EQ(CMPI_RC_OK, names().rc);
    ASSERT_TRUE(broker->waitThreadsEnded(2));

    auto delivered = broker->delivered();
    ASSERT_EQ(2u, delivered.size());
    int creations = 0;
    int deletions = 0;
    for (const auto& d : delivered) {
        EXPECT_EQ("root/cimv2", d.nameSpace);
        const InstData& ind = d.indication;
        EXPECT_EQ("root/cimv2", ind.path.nameSpace);
        ASSERT_EQ(3u, ind.properties.size());
        EXPECT_EQ("SourceInstance", ind.properties[0].first);
        EXPECT_EQ(CMPI_instance, ind.properties[0].second.type);
        EXPECT_EQ(CMPI_chars, ind.find("SourceInstanceModelPath")->type);
        EXPECT_EQ(CMPI_dateTime, ind.find("IndicationTime")->type);
        EXPECT_GT(ind.find("IndicationTime")->number, 0u);
        const InstData& source = *ind.properties[0].second.instance;
        EXPECT_EQ(36u, source.properties.size());
        std::string id = TextOf(source, "DeviceID");
        EXPECT_EQ("root/cimv2:QAV_Display.DeviceID=\"" + id + "\"",
                  TextOf(ind, "SourceInstanceModelPath"));
        if (ind.path.className == "CIM_InstDeletion") {
            ++deletions;
            EXPECT_EQ("7427-A10-1111111", id);
            EXPECT_EQ("0042", TextOf(source, "FirmwareRevision")) << "the departed inventory";
        } else {
            ++creations;
            EXPECT_EQ("CIM_InstCreation", ind.path.className);
            EXPECT_EQ("7428-B20-2222222", id);
        }
    }
    EXPECT_EQ(1, creations);
    EXPECT_EQ(1, deletions);
    EXPECT_EQ(2, broker->attached());
    EXPECT_EQ(2, broker->detached());
}

TEST_F(ProviderTest, TheBaselineWaitsForAnEnumerationThatListsTheBus)
{
    LogTail log;
    load();
    // The first subscription finds the bus unlistable: no baseline yet.
    driver().listResult = DSP_ENUM_FAILED;
    subscribe();
    EXPECT_EQ(1, driver().enumerations);
    EXPECT_TRUE(log.has("DisplayProvider - baseline not taken at the first subscription: the USB device list "
                        "could not be obtained (dspcode=0x4) - the monitors found by the first enumeration that "
                        "lists the bus are taken as they are, without indications"));
    // The driver's first listing reports both monitors as arrived: the
    // baseline, not announced.
    driver().listResult = DSP_OK;
    driver().records = {MakeRecord("7427", "A10", "1"), MakeRecord("7427", "A10", "2")};
    driver().created = driver().records;
    EXPECT_EQ(CMPI_RC_OK, names().rc);
    EXPECT_EQ(0, broker->threadsStarted());
    EXPECT_TRUE(log.has("DisplayProvider - baseline taken: 2 monitor(s) attached, not announced"));
    // From then on each change is announced.
    driver().created = {MakeRecord("7427", "A10", "3")};
    EXPECT_EQ(CMPI_RC_OK, names().rc);
    EXPECT_TRUE(broker->waitThreadsEnded(1));
    EXPECT_EQ(1u, broker->delivered().size());
}

TEST_F(ProviderTest, ARequestBeforeTheFirstSubscriptionIsTheBaseline)
{
    load();
    driver().records = {MakeRecord("7427", "A10", "1")};
    driver().created = driver().records;
    EXPECT_EQ(CMPI_RC_OK, names().rc);
    subscribe();
    EXPECT_EQ(1, driver().enumerations) << "no second enumeration for the baseline";
    driver().created = {MakeRecord("7427", "A10", "2")};
    EXPECT_EQ(CMPI_RC_OK, names().rc);
    EXPECT_TRUE(broker->waitThreadsEnded(1));
    EXPECT_EQ(1u, broker->delivered().size());
}

TEST_F(ProviderTest, ModelPathEscapesQuoteAndBackslash)
{
    load();
    subscribe();
    driver().created = {MakeRecord("74\"27", "A\\10", "1")};
    names();
    ASSERT_TRUE(broker->waitThreadsEnded(1));
    auto delivered = broker->delivered();
    ASSERT_EQ(1u, delivered.size());
    EXPECT_EQ("root/cimv2:QAV_Display.DeviceID=\"74\\\"27-A\\\\10-1\"",
              TextOf(delivered[0].indication, "SourceInstanceModelPath"));
}

TEST_F(ProviderTest, DisabledIndicationsStartNoThread)
{
    LogTail log;
    load();
    activate("CIM_InstCreation");
    driver().created = {MakeRecord("7427", "A10", "1")};
    names();
    EXPECT_TRUE(log.has("DisplayProvider::DisplayCreated(7427,A10,1)"));
    EXPECT_EQ(0, broker->threadsStarted());
    enable();
    disable();
    driver().created = {MakeRecord("7427", "A10", "2")};
    names();
    EXPECT_EQ(0, broker->threadsStarted());
}

TEST_F(ProviderTest, IndicationFailuresAreLoggedAndFreed)
{
    LogTail log;
    load();
    subscribe();

    broker->faults.newThreadFails = true;
    driver().created = {MakeRecord("7427", "A10", "1")};
    names();
    EXPECT_TRUE(log.has(
        "DisplayProvider::sendLifecycleIndication - newThread failed, indication for 7427-A10-1 dropped"));
    broker->faults.newThreadFails = false;

    broker->faults.attachStatus = CMPI_RC_ERR_ACCESS_DENIED;
    driver().created = {MakeRecord("7427", "A10", "2")};
    names();
    ASSERT_TRUE(broker->waitThreadsEnded(1));
    EXPECT_TRUE(log.has("indicateThread - CMAttachThread: CMPIStatus 2"));
    EXPECT_EQ(1, broker->released()) << "the prepared context is released after a failed attach";
    EXPECT_EQ(0, broker->detached());
    broker->faults.attachStatus = CMPI_RC_OK;

    broker->faults.deliverStatus = CMPI_RC_ERR_FAILED;
    driver().created = {MakeRecord("7427", "A10", "3")};
    names();
    ASSERT_TRUE(broker->waitThreadsEnded(2));
    EXPECT_TRUE(log.has("indicateThread - CMPIStatus 1, "));
    EXPECT_EQ(1, broker->detached()) << "the thread still detaches";

    broker->faults.deliverStatus = CMPI_RC_OK;
    broker->faults.refuseProperty = "SourceInstance";
    broker->faults.refuseStatus = CMPI_RC_ERR_TYPE_MISMATCH;
    driver().created = {MakeRecord("7427", "A10", "4")};
    names();
    ASSERT_TRUE(broker->waitThreadsEnded(3));
    EXPECT_TRUE(log.has("Cmpi::SetInstanceProperty status.rc=13, 0x0000000d"));
    EXPECT_TRUE(log.has("indicateThread - CMPIStatus 13, "));
    EXPECT_TRUE(broker->delivered().empty());
    EXPECT_EQ(3, log.count("IndicateThread - Exit"));
}
