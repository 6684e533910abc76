// Bad configuration files and bad CIM requests against the provider in the
// embedded host: binary garbage, 1 MiB lines, CR LF line ends, no final
// newline; odd key types, null keys, wrong namespaces and classes, null
// paths and results. Nothing may crash; each gets its documented result.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "EmulatedBus.h"
#include "NamedProcess.h"
#include "Sandbox.h"
#include "ServedProcess.h"
#include "SoakMonitor.h"

using cimhost::CimHost;
using cimhost::HostObjectPath;
using cimhost::HostValue;
using usbemu::EmulatedBus;

namespace {

const char kLogConf[] = "/etc/pnlmon/log.conf";
const char kDriverConf[] = "/etc/pnlmon/pnlmon.conf";
const char kNs[] = "root/cimv2";
const char kClass[] = "QAV_Display";

// Random bytes (NULs, CRs, "=" and newlines included) that contain none
// of the configuration keys.
std::string Garbage(size_t length)
{
    std::mt19937 random(20260712);
    std::string bytes;
    for (size_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<char>(random() & 0xff));
    }
    for (const char* key : {"FileName", "IsConsole", "Level", "MaxLength", "MusLockFile", "FlashUtilityNames"}) {
        EXPECT_EQ(std::string::npos, bytes.find(key));
    }
    return bytes + "\n";
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A process whose program name is `name`, as a flash utility would be,
// once /proc shows it so.
pid_t StartProcessNamed(const char* name)
{
    return NamedProcess::Start("/bin/sleep", name, {"60"});
}

void Stop(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

class BadInputTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!ServedProcess::ForkSupported()) {
            GTEST_SKIP() << "one process per configuration cannot run under ThreadSanitizer";
        }
        sandbox::ResetSystemFolders();
        EmulatedBus::instance().plug(SoakMonitor::spec(0));
        EmulatedBus::instance().plug(SoakMonitor::spec(1));
    }
    void TearDown() override
    {
        EmulatedBus::instance().unplugAll();
        sandbox::ResetSystemFolders();
    }

    static std::vector<std::string> Ids() { return {SoakMonitor::id(0), SoakMonitor::id(1)}; }

    static void ExpectClean(const ServedProcess::Outcome& outcome)
    {
        EXPECT_EQ(0, outcome.failures) << "signal " << outcome.signal << "\n" << outcome.checks;
    }

    // Serves with a running process named kap_config (a default flash
    // utility) and expects the monitors hidden or not.
    static void ExpectFlashCheck(bool hidden)
    {
        ExpectClean(ServedProcess::Run([hidden](ServedProcess& p) {
            pid_t flasher = StartProcessNamed("kap_config");
            p.expect(flasher > 0, "kap_config started");
            auto all = p.host().enumerateInstances(kNs, kClass);
            p.expect(all.ok() && all.instances.size() == (hidden ? 0u : 2u),
                     std::string(hidden ? "hidden" : "served") + " while kap_config runs: " +
                         std::to_string(all.instances.size()) + " instances");
            Stop(flasher);
            p.expectServes(Ids(), "after kap_config ended");
        }));
    }
};

}  // namespace

TEST_F(BadInputTest, LogConfigurationGarbageLongLinesAndLineEnds)
{
    // Garbage and a 1 MiB line before a valid setting: the setting still counts.
    ASSERT_TRUE(sandbox::WriteFile(kLogConf, Garbage(64 * 1024) + std::string(1 << 20, 'K') + "=" +
                                                 std::string(1 << 20, 'v') + "\n" +
                                                 "FileName=/var/log/pnlmon/after.log\n"));
    ExpectClean(ServedProcess::Run([](ServedProcess& p) { p.expectServes(Ids(), "garbage log.conf"); }));
    EXPECT_TRUE(Exists("/var/log/pnlmon/after.log"));
    EXPECT_FALSE(Exists("/var/log/pnlmon/pnlmon.log"));
    sandbox::ResetSystemFolders();

    // A FileName of 1 MiB cannot be opened: lines are dropped.
    ASSERT_TRUE(sandbox::WriteFile(kLogConf, "FileName=/var/log/pnlmon/" + std::string(1 << 20, 'n') + "\n"));
    ExpectClean(ServedProcess::Run([](ServedProcess& p) { p.expectServes(Ids(), "1 MiB FileName"); }));
    EXPECT_FALSE(Exists("/var/log/pnlmon/pnlmon.log"));

    // CR LF: the CR stays in the FileName; Level 2 still reads 2.
    ASSERT_TRUE(sandbox::WriteFile(kLogConf, "FileName=/var/log/pnlmon/crlf.log\r\nLevel=2\r\n"));
    ExpectClean(ServedProcess::Run([](ServedProcess& p) { p.expectServes(Ids(), "CR LF log.conf"); }));
    std::string crlf;
    EXPECT_TRUE(sandbox::ReadFile("/var/log/pnlmon/crlf.log\r", crlf));
    EXPECT_FALSE(Exists("/var/log/pnlmon/crlf.log"));
    EXPECT_NE(std::string::npos, crlf.find("\tInfo \t"));
    EXPECT_EQ(std::string::npos, crlf.find("\tDebug\t"));
    sandbox::ResetSystemFolders();

    // No final newline: the last line keeps its last character.
    ASSERT_TRUE(sandbox::WriteFile(kLogConf, "Level=2\nFileName=/var/log/pnlmon/last.log"));
    ExpectClean(ServedProcess::Run([](ServedProcess& p) { p.expectServes(Ids(), "unterminated log.conf"); }));
    EXPECT_TRUE(Exists("/var/log/pnlmon/last.log"));
    EXPECT_FALSE(Exists("/var/log/pnlmon/last.lo"));
}

TEST_F(BadInputTest, DriverConfigurationGarbageLongLinesAndLineEnds)
{
    // Control: the default list hides the monitors while kap_config runs.
    ExpectFlashCheck(true);

    // A name with a CR never matches, so the monitors stay served.
    ASSERT_TRUE(sandbox::WriteFile(kDriverConf, "FlashUtilityNames=kap_config\r\n"));
    ExpectFlashCheck(false);

    // The last line keeps its last character: "kap_config" matches.
    ASSERT_TRUE(sandbox::WriteFile(kDriverConf, "MusLockFile=/run/x\nFlashUtilityNames=kap_config"));
    ExpectFlashCheck(true);

    // Garbage and 1 MiB lines before the setting do not stop the reading;
    // a 1 MiB name list with no match costs one scan per name, so the long
    // value here is a single name.
    ASSERT_TRUE(sandbox::WriteFile(kDriverConf, Garbage(64 * 1024) + "FlashUtilityNames=" +
                                                    std::string(1 << 20, 'u') + "\n" + std::string(1 << 20, '=') +
                                                    "\nFlashUtilityNames=other,kap_config\n"));
    ExpectFlashCheck(true);
    ASSERT_TRUE(sandbox::WriteFile(kDriverConf, Garbage(64 * 1024) + "FlashUtilityNames=" +
                                                    std::string(1 << 20, 'u') + "\n"));
    ExpectFlashCheck(false);
}

TEST_F(BadInputTest, OddKeysNamespacesClassesAndPaths)
{
    ExpectClean(ServedProcess::Run([](ServedProcess& p) {
        CimHost& host = p.host();
        const std::string id = SoakMonitor::id(0);
        // Every served or checked request ends its result with returnDone.
        auto rcOf = [&](const cimhost::RequestResult& r, CMPIrc want, const std::string& what) {
            p.expect(r.status.rc == want && (r.done || want == CMPI_RC_ERR_NOT_SUPPORTED),
                     what + ": " + CimHost::RcName(r.status.rc) + " (want " + CimHost::RcName(want) + ")");
        };

        // Keys.
        rcOf(host.getInstance(kNs, kClass, "DeviceID", id), CMPI_RC_OK, "string key");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", id, CMPI_string), CMPI_RC_OK, "CMPIString key");
        rcOf(host.getInstance(kNs, kClass, "deviceid", id), CMPI_RC_OK, "key name in lower case");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", HostValue::Uint(CMPI_uint32, 7427)), CMPI_RC_ERR_FAILED,
             "uint32 key");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", HostValue::Null(CMPI_string)), CMPI_RC_ERR_NOT_FOUND,
             "null key value");
        HostObjectPath noKey;
        noKey.nameSpace = kNs;
        noKey.className = kClass;
        rcOf(host.getInstance(noKey), CMPI_RC_ERR_FAILED, "no key");
        rcOf(host.getInstance(kNs, kClass, "Other", id), CMPI_RC_ERR_FAILED, "other key name");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", id.substr(0, 8)), CMPI_RC_ERR_NOT_FOUND, "key prefix");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", ""), CMPI_RC_ERR_NOT_FOUND, "empty key");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", id + std::string(1 << 20, 'x')), CMPI_RC_ERR_NOT_FOUND,
             "1 MiB key");
        rcOf(host.getInstance(kNs, kClass, "DeviceID", std::string("\xff\x01\"\\%s%n", 8)), CMPI_RC_ERR_NOT_FOUND,
             "key of odd bytes");

        // Namespaces and classes: the namespace is checked first.
        rcOf(host.enumerateInstanceNames("ROOT/CIMV2", kClass), CMPI_RC_OK, "namespace in capitals");
        for (const char* ns : {"root/other", "", "root/cimv2/", "root\\cimv2", "%s%n"}) {
            rcOf(host.enumerateInstanceNames(ns, kClass), CMPI_RC_ERR_INVALID_NAMESPACE,
                 std::string("namespace '") + ns + "'");
            rcOf(host.enumerateInstances(ns, "nonsense"), CMPI_RC_ERR_INVALID_NAMESPACE,
                 std::string("namespace '") + ns + "' and a wrong class");
            rcOf(host.getInstance(ns, kClass, "DeviceID", id), CMPI_RC_ERR_INVALID_NAMESPACE,
                 std::string("get in namespace '") + ns + "'");
        }
        for (const char* cls : {"qav_display", "QAV_DISPLAY", "", "QAV_Display ", "CIM_InstCreation"}) {
            rcOf(host.enumerateInstances(kNs, cls), CMPI_RC_ERR_INVALID_CLASS, std::string("class '") + cls + "'");
            rcOf(host.getInstance(kNs, cls, "DeviceID", id), CMPI_RC_ERR_INVALID_CLASS,
                 std::string("get of class '") + cls + "'");
        }
        rcOf(host.getInstance(HostObjectPath()), CMPI_RC_ERR_INVALID_NAMESPACE, "empty path");

        // Refused operations, whatever the path (they touch nothing, not
        // even the result).
        rcOf(host.deleteInstance(HostObjectPath()), CMPI_RC_ERR_NOT_SUPPORTED, "delete");
        rcOf(host.createInstance(HostObjectPath(), cimhost::HostInstance()), CMPI_RC_ERR_NOT_SUPPORTED, "create");
        rcOf(host.execQuery(HostObjectPath(), "SELECT * FROM QAV_Display"), CMPI_RC_ERR_NOT_SUPPORTED, "query");

        // Filter classes are compared exactly.
        for (const char* cls : {"cim_instcreation", "", "CIM_InstModification", "QAV_Display"}) {
            p.expect(host.authorizeFilter(cls).rc == CMPI_RC_ERR_INVALID_CLASS &&
                         host.activateFilter(cls, true).rc == CMPI_RC_ERR_INVALID_CLASS &&
                         host.deActivateFilter(cls, true).rc == CMPI_RC_ERR_INVALID_CLASS,
                     std::string("filter class '") + cls + "'");
        }
        p.expect(host.mustPoll("CIM_InstCreation").rc == CMPI_RC_ERR_NOT_SUPPORTED, "mustPoll");

        // Null path and null result, straight through the MI table: the
        // host never passes them, a careless CIMOM might.
        using Factory = CMPIInstanceMI* (*)(const CMPIBroker*, const CMPIContext*, CMPIStatus*);
        auto factory = reinterpret_cast<Factory>(host.providerSymbol("DisplayProvider_Create_InstanceMI"));
        p.expect(factory != nullptr, "instance MI factory");
        if (factory != nullptr) {
            CMPIStatus st{CMPI_RC_OK, nullptr};
            CMPIInstanceMI* mi = factory(host.broker().cmpi(), nullptr, &st);
            static unsigned doneCalls = 0;
            static CMPIResultFT resultFt{};
            resultFt.ftVersion = 100;
            resultFt.returnDone = [](const CMPIResult*) {
                ++doneCalls;
                return CMPIStatus{CMPI_RC_OK, nullptr};
            };
            CMPIResult result{nullptr, &resultFt};
            CMPIStatus r = mi->ft->getInstance(mi, nullptr, &result, nullptr, nullptr);
            p.expect(r.rc == CMPI_RC_ERR_INVALID_PARAMETER && doneCalls == 1, "get with a null path");
            r = mi->ft->enumInstanceNames(mi, nullptr, &result, nullptr);
            p.expect(r.rc == CMPI_RC_ERR_INVALID_PARAMETER && doneCalls == 2, "enumerate with a null path");
            r = mi->ft->enumInstances(mi, nullptr, nullptr, nullptr, nullptr);
            p.expect(r.rc == CMPI_RC_ERR_INVALID_PARAMETER, "enumerate with a null result");
            // Give back the use this factory call added.
            mi->ft->cleanup(mi, nullptr, false);
        }

        // After all that the provider still serves.
        p.expectServes(Ids(), "after the bad requests");
    }));
}
