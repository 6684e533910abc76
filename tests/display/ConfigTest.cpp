// The driver configuration through its real path "/etc/pnlmon/pnlmon.conf".
// Each case runs in a child so that the configuration singleton and the
// logger are created afresh; the log goes to standard error there.
#include <gtest/gtest.h>

#include <cstdio>

#include "Config.h"
#include "Sandbox.h"
#include "TestSupport.h"

using testsupport::CountMessage;

namespace {

// Runs body after routing the log to the console, and prints the settings
// of the configuration singleton to standard output.
sandbox::ChildResult RunWithConfig(const std::string* confText, const std::function<void()>& body = nullptr)
{
    sandbox::ResetSystemFolders();
    testsupport::RouteLog("/dev/null", true);
    if (confText != nullptr) {
        sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", *confText);
    }
    sandbox::ChildResult r = sandbox::RunInChild([&]() {
        if (body) {
            body();
        }
        std::string lock, names;
        Config::getInstance()->getMusLockFile(lock);
        Config::getInstance()->getFlashUtilityNames(names);
        printf("lock=[%s]\nnames=[%s]\n", lock.c_str(), names.c_str());
        return 0;
    });
    sandbox::ResetSystemFolders();
    return r;
}

}  // namespace

TEST(Config, DefaultsWithoutFile)
{
    sandbox::ChildResult r = RunWithConfig(nullptr);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("lock=[/var/lock/subsys/QRNDRVSVC_{5A1C9E02-3B7F-4D28-9C61-E0B4F7A3D815}]"),
              std::string::npos);
    EXPECT_NE(r.out.find("names=[kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app]"), std::string::npos);
    EXPECT_EQ(CountMessage(r.err,
                           "Config::readIniFile - cannot open /etc/pnlmon/pnlmon.conf - will use default config"),
              1);
    EXPECT_EQ(CountMessage(r.err, "Config constructed"), 1);
}

TEST(Config, LineFormat)
{
    const std::string conf =
        "MusLockFile =/ignored\n"          // blank before "=": a different key
        "FlashUtilityNames=\n"             // empty: keeps the default, still logged
        "# comment=nothing\n"
        "no equals sign\n"
        "=value without key\n"
        "MusLockFile=/run/lock=a\r\n";    // further "=" and the CR are kept
    sandbox::ChildResult r = RunWithConfig(&conf);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("lock=[/run/lock=a\r]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("names=[kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app]"), std::string::npos);
    EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - key=FlashUtilityNames, val="), 1);
    EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - key=MusLockFile , val=/ignored"), 1);
    EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - key=# comment, val=nothing"), 1);
    EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - Setting MUS lock file path to /run/lock=a\r"), 1);
    EXPECT_EQ(r.err.find("Setting Flash utility names"), std::string::npos);
    EXPECT_EQ(r.err.find("value without key"), std::string::npos);
    EXPECT_EQ(r.err.find("cannot open"), std::string::npos);
}

TEST(Config, OneNameReplacesTheListAndTheLastValueWins)
{
    // The last line has no newline: its last character is kept.
    const std::string conf = "FlashUtilityNames=first\nFlashUtilityNames=solo";
    sandbox::ChildResult r = RunWithConfig(&conf);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("names=[solo]"), std::string::npos) << r.out;
    EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - Setting Flash utility names to solo"), 1);
}

TEST(Config, RecreationReadsTheFileAgain)
{
    const std::string conf = "FlashUtilityNames=before\n";
    sandbox::ChildResult r = RunWithConfig(&conf, []() {
        std::string names;
        Config::getInstance()->getFlashUtilityNames(names);
        printf("first=[%s]\n", names.c_str());
        Config::destroyInstance();
        Config::destroyInstance();  // nothing left to destroy: only the line
        sandbox::WriteFile("/etc/pnlmon/pnlmon.conf", "FlashUtilityNames=after\n");
    });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("first=[before]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("names=[after]"), std::string::npos) << r.out;
    EXPECT_EQ(CountMessage(r.err, "Config constructed"), 2);
    EXPECT_EQ(CountMessage(r.err, "Config destroyed"), 1);
    EXPECT_EQ(CountMessage(r.err, "Config::destroyInstance"), 2);
    std::vector<std::string> m = testsupport::Messages(r.err);
    // Construction lines in order; the address line keeps its historic
    // "0x%p" format.
    ASSERT_GE(m.size(), 5u);
    EXPECT_EQ(m[0], "Config::initialise");
    EXPECT_EQ(m[1], "Config::setDefaults");
    EXPECT_EQ(m[2], "Config::readIniFile");
    EXPECT_NE(r.err.find("Config::getInstance returning new instance 0x"), std::string::npos);
}

TEST(Config, AnnounceChangesKey)
{
    auto announce = [](const std::string* conf) {
        sandbox::ChildResult r = RunWithConfig(conf, [] {
            printf("immediate=%d\n", Config::getInstance()->announceChangesImmediately() ? 1 : 0);
        });
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r;
    };
    // Absent (also without any file): on request.
    EXPECT_NE(announce(nullptr).out.find("immediate=0"), std::string::npos);
    const std::string other = "FlashUtilityNames=x\n";
    EXPECT_NE(announce(&other).out.find("immediate=0"), std::string::npos);

    const std::string immediate = "AnnounceChanges=immediate\n";
    EXPECT_NE(announce(&immediate).out.find("immediate=1"), std::string::npos);

    // The last non-empty value wins; an empty one keeps the setting.
    const std::string back = "AnnounceChanges=immediate\nAnnounceChanges=on-request\nAnnounceChanges=\n";
    EXPECT_NE(announce(&back).out.find("immediate=0"), std::string::npos);
    const std::string kept = "AnnounceChanges=immediate\nAnnounceChanges=\n";
    EXPECT_NE(announce(&kept).out.find("immediate=1"), std::string::npos);

    // Unknown values (letter case, blanks and a CR count) warn and mean on request.
    for (const std::string bad : {"Immediate", "immediate ", "immediate\r", "yes"}) {
        const std::string conf = "AnnounceChanges=immediate\nAnnounceChanges=" + bad + "\n";
        sandbox::ChildResult r = announce(&conf);
        EXPECT_NE(r.out.find("immediate=0"), std::string::npos) << bad;
        EXPECT_EQ(CountMessage(r.err, "Config::readIniFile - unknown AnnounceChanges value " + bad +
                                          " - changes are announced on request"),
                  1)
            << bad;
    }
}

TEST(Config, ShippedFileAnnouncesImmediatelyAndKeepsTheDefaults)
{
    std::string shipped;
    ASSERT_TRUE(sandbox::ReadFile(PNLMON_SOURCE_DIR "/packaging/etc/pnlmon.conf", shipped));
    sandbox::ChildResult r = RunWithConfig(&shipped, [] {
        printf("immediate=%d\n", Config::getInstance()->announceChangesImmediately() ? 1 : 0);
    });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("immediate=1"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("names=[kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app]"), std::string::npos);
    EXPECT_EQ(r.err.find("unknown AnnounceChanges"), std::string::npos);
}
