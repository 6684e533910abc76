// The tools as a technician runs them: each under pnlmon-sim against
// emulated monitors, in the private mount namespace (so the configuration
// and log they use are the test's own).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "NamedProcess.h"
#include "Sandbox.h"

namespace {

const std::string kSim = PNLMON_SIM_PATH;
const std::string kInventory = PNLMON_INVENTORY_PATH;
const std::string kDecode = PNLMON_DECODE_PATH;
const std::string kCimhost = PNLMON_CIMHOST_PATH;
const std::string kExamples = PNLMON_EXAMPLES_DIR;

// A monitor whose identity memory is blank: every text byte reads 0xFF.
const char kBlankScenario[] = R"({
  "monitors": [{"name": "blank", "vid": "0x04B3", "pid": "0x4676",
    "inventory": "ffffffffffffffffffffffffffffffffffff100e0000100e00005000 0c"}]
})";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun Exec(const std::vector<std::string>& args)
{
    ToolRun run;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        setenv("TMPDIR", sandbox::ScratchDir().c_str(), 1);
        setenv("PNLMON_PROVIDER", PNLMON_PROVIDER_PATH, 1);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 60000) > 0) {
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t got = read(fd.fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fd.fd);
                fd.fd = -1;
                --open;
                continue;
            }
            (fd.fd == out[0] ? run.out : run.err).append(buffer, static_cast<size_t>(got));
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// tool under pnlmon-sim with the scenario.
ToolRun Sim(const std::string& scenario, std::vector<std::string> command)
{
    std::vector<std::string> args{kSim, "-q", scenario, "--"};
    args.insert(args.end(), command.begin(), command.end());
    return Exec(args);
}

std::string WriteScenario(const std::string& name, const std::string& json)
{
    std::string path = sandbox::ScratchDir() + "/" + name;
    EXPECT_TRUE(sandbox::WriteFile(path, json));
    return path;
}

// Nothing a terminal would act on: no control byte but the line feed, no
// malformed UTF-8.
void ExpectTerminalSafe(const std::string& text)
{
    for (unsigned char c : text) {
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << "control byte " << static_cast<int>(c) << " in\n"
                                                           << text;
    }
    ASSERT_NO_THROW(nlohmann::json(text).dump()) << text;
}

TEST(ToolsUnderSim, BlankIdentityMemoryKeepsEveryViewValidAndLossless)
{
    const std::string scenario = WriteScenario("blank.json", kBlankScenario);
    const std::string ffs(18, '\xff');

    ToolRun json = Sim(scenario, {kInventory, "--json", "--raw"});
    ASSERT_EQ(0, json.status) << json.err;
    nlohmann::json all = nlohmann::json::parse(json.out);
    ASSERT_EQ(1u, all.size());
    const nlohmann::json& d = all[0];
    // The texts stay valid JSON; their bytes are all there in hex.
    EXPECT_NE(std::string::npos, d["deviceId"].get<std::string>().find("\xef\xbf\xbd"));
    std::string idHex = d["deviceIdBytes"];
    EXPECT_EQ(0u, idHex.find("ffffffff")) << idHex;
    EXPECT_NE(std::string::npos, idHex.find("2d"));  // the hyphens
    EXPECT_TRUE(d.contains("serialNumberBytes"));
    EXPECT_FALSE(d.contains("currentVideoSourceBytes"));
    EXPECT_EQ(1, d["backlightState"]);  // numbers kept as numbers
    EXPECT_EQ(0u, d["reports"]["inventory"].get<std::string>().find(
                      "ffffffffffffffffffffffffffffffffffff100e0000100e000050000c"));
    EXPECT_EQ(48u * 2, d["reports"]["inventory"].get<std::string>().size());
    EXPECT_EQ(0u, d["reports"]["edid"].get<std::string>().find("00ffffffffffff00"));

    for (const std::vector<std::string>& view : {std::vector<std::string>{}, {"--list"}, {"--raw"}}) {
        std::vector<std::string> command{kInventory};
        command.insert(command.end(), view.begin(), view.end());
        ToolRun shown = Sim(scenario, command);
        ASSERT_EQ(0, shown.status) << shown.err;
        ExpectTerminalSafe(shown.out);
        EXPECT_NE(std::string::npos, shown.out.find("\\xff\\xff")) << shown.out;
    }
    // The escaped identifier the table shows selects the monitor.
    std::string escapedId;
    for (size_t i = 0; i < idHex.size(); i += 2) {
        std::string pair = idHex.substr(i, 2);
        escapedId += pair == "2d" ? "-" : pair == "ff" ? "\\xff" : std::string(1, static_cast<char>(std::stoi(pair, nullptr, 16)));
    }
    ToolRun byId = Sim(scenario, {kInventory, "--list", "--id=" + escapedId});
    EXPECT_EQ(0, byId.status) << byId.err;

    ToolRun watch = Sim(scenario, {kInventory, "--watch=0.1", "--count=1", "--json"});
    ASSERT_EQ(0, watch.status) << watch.err;
    nlohmann::json event = nlohmann::json::parse(watch.out.substr(0, watch.out.find('\n')));
    EXPECT_EQ("arrived", event["event"]);
    EXPECT_TRUE(event["display"].contains("deviceIdBytes"));

    ToolRun cim = Sim(scenario, {kCimhost, "--json", "ei"});
    ASSERT_EQ(0, cim.status) << cim.err;
    nlohmann::json answer = nlohmann::json::parse(cim.out.substr(0, cim.out.find('\n')));
    EXPECT_EQ(1u, answer["instances"].size()) << cim.out;
    // CIM strings carry the bytes that are not UTF-8 as \xHH: valid text, no
    // byte lost, nothing for the JSON view to replace.
    EXPECT_EQ(std::string::npos, cim.out.find("Bytes\"")) << cim.out;
    EXPECT_EQ("\\xff\\xff\\xff\\xff\\xff\\xff\\xff",
              answer["instances"][0]["properties"]["SerialNumber"].get<std::string>());
}

TEST(ToolsUnderSim, SelectionRawEdidAndCompactList)
{
    const std::string two = kExamples + "/two-monitors.json";
    ToolRun list = Sim(two, {kInventory, "-l"});
    ASSERT_EQ(0, list.status) << list.err;
    EXPECT_EQ(2, std::count(list.out.begin(), list.out.end(), '\n')) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("Bus 001 Device 002: ID 04b3:4676 7427-A10-TL12345")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find(": ID 0f66:467a 7429-C16-SR24680")) << list.out;

    ToolRun one = Sim(two, {kInventory, "--json", "--usb=1:2"});
    ASSERT_EQ(0, one.status) << one.err;
    nlohmann::json chosen = nlohmann::json::parse(one.out);
    ASSERT_EQ(1u, chosen.size());
    EXPECT_EQ("7427-A10-TL12345", chosen[0]["deviceId"]);
    EXPECT_EQ(2, chosen[0]["usb"]["device"]);

    ToolRun byId = Sim(two, {kInventory, "-i", "7429-C16-SR24680"});
    ASSERT_EQ(0, byId.status) << byId.err;
    EXPECT_NE(std::string::npos, byId.out.find("ID 0f66:467a")) << byId.out;
    // Both views give the modes in one form.
    EXPECT_NE(std::string::npos, byId.out.find("Current mode            1366x768 @ 59 Hz")) << byId.out;
    EXPECT_NE(std::string::npos, byId.out.find("Preferred mode          1366x768 @ 59 Hz")) << byId.out;
    EXPECT_NE(std::string::npos, byId.out.find("active-matrix LCD (3)")) << byId.out;

    ToolRun none = Sim(two, {kInventory, "--usb=9"});
    EXPECT_EQ(5, none.status);
    EXPECT_NE(std::string::npos, none.err.find("no monitor matches the device 009")) << none.err;

    ToolRun ambiguous = Sim(two, {kInventory, "--edid"});
    EXPECT_EQ(64, ambiguous.status);
    EXPECT_NE(std::string::npos, ambiguous.err.find("choose one with --id or --usb")) << ambiguous.err;

    // The raw EDID is the block the monitor sent: the same bytes as the raw
    // report in JSON, a valid base block, and what pnlmon-decode reads.
    ToolRun edid = Sim(two, {kInventory, "--edid", "-s", "2"});
    ASSERT_EQ(0, edid.status) << edid.err;
    ASSERT_EQ(128u, edid.out.size());
    ToolRun raw = Sim(two, {kInventory, "-j", "-r", "-s", "2"});
    ASSERT_EQ(0, raw.status) << raw.err;
    std::string hex = nlohmann::json::parse(raw.out)[0]["reports"]["edid"];
    static const char kDigits[] = "0123456789abcdef";
    std::string edidHex;
    unsigned sum = 0;
    for (unsigned char c : edid.out) {
        edidHex += kDigits[c >> 4];
        edidHex += kDigits[c & 15];
        sum += c;
    }
    EXPECT_EQ(hex, edidHex);
    EXPECT_EQ(0u, sum % 256);
    std::string file = sandbox::ScratchDir() + "/tilo.edid";
    ASSERT_TRUE(sandbox::WriteFile(file, edid.out));
    ToolRun decoded = Exec({kDecode, "edid", file});
    ASSERT_EQ(0, decoded.status) << decoded.err;
    EXPECT_EQ("TLO", nlohmann::json::parse(decoded.out)["manufacturerName"]);
    if (access("/usr/bin/edid-decode", X_OK) == 0) {
        ToolRun peer = Exec({"/usr/bin/edid-decode", file});
        EXPECT_NE(std::string::npos, peer.out.find("Manufacturer: TLO")) << peer.out << peer.err;
    }
    // The raw reports as the detailed view prints them read back too.
    ToolRun rawText = Sim(two, {kInventory, "--raw", "-s", "3"});
    ASSERT_EQ(0, rawText.status) << rawText.err;
    size_t at = rawText.out.find("OSD report (48 bytes):\n");
    ASSERT_NE(std::string::npos, at) << rawText.out;
    std::string osdFile = sandbox::ScratchDir() + "/osd.txt";
    ASSERT_TRUE(sandbox::WriteFile(osdFile, rawText.out.substr(at + 23)));
    ToolRun osd = Exec({kDecode, "osd", osdFile});
    ASSERT_EQ(0, osd.status) << osd.err;
    EXPECT_EQ(1366, nlohmann::json::parse(osd.out)["horizontalResolution"]);
}

TEST(ToolsUnderSim, VerboseShowsTheDriverLogWithoutChangingTheLogFile)
{
    sandbox::ResetSystemFolders();
    ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/log.conf", "Level=1\n"));
    const std::string tilo = kExamples + "/tilo.json";

    ToolRun quiet = Sim(tilo, {kInventory});
    ASSERT_EQ(0, quiet.status) << quiet.err;
    EXPECT_EQ("", quiet.err);
    EXPECT_EQ(std::string::npos, quiet.out.find("Logger created"));

    ToolRun verbose = Sim(tilo, {kInventory, "-v", "3"});
    ASSERT_EQ(0, verbose.status) << verbose.err;
    EXPECT_EQ(quiet.out, verbose.out);
    EXPECT_NE(std::string::npos, verbose.err.find("\tDebug\tQavHidDisplay::initialise - Ok\r\n")) << verbose.err;
    EXPECT_EQ(std::string::npos, verbose.err.find("\tTrace\t"));
    EXPECT_EQ(std::string::npos, verbose.err.find("Logger created"));

    ToolRun trace = Sim(tilo, {kInventory, "-vvvv"});
    ASSERT_EQ(0, trace.status);
    EXPECT_NE(std::string::npos, trace.err.find("\tTrace\t"));
    EXPECT_NE(std::string::npos, trace.err.find("HidIo::get_device_list returns"));

    // The file got the configured level only, through all three runs.
    std::string log;
    sandbox::ReadFile("/var/log/pnlmon/pnlmon.log", log);
    EXPECT_EQ(std::string::npos, log.find("\tDebug\t")) << log;
    EXPECT_EQ(std::string::npos, log.find("\tTrace\t")) << log;
    sandbox::ResetSystemFolders();
}

TEST(ToolsUnderSim, EveryToolFollowsTheSameConventions)
{
    for (const std::string& tool : {kInventory, kDecode, kCimhost, kSim}) {
        std::string name = tool.substr(tool.rfind('/') + 1);
        ToolRun help = Exec({tool, "--help"});
        EXPECT_EQ(0, help.status) << name;
        EXPECT_EQ(0u, help.out.find("Usage: " + name + " ")) << help.out;
        EXPECT_NE(std::string::npos, help.out.find("Exit status")) << name;
        ToolRun version = Exec({tool, "--version"});
        EXPECT_EQ(0, version.status) << name;
        EXPECT_EQ(0u, version.out.find(name + " 3.")) << version.out;
        ToolRun bad = Exec({tool, "--no-such-option"});
        EXPECT_EQ(64, bad.status) << name;
        EXPECT_EQ(name + ": unknown or ambiguous option '--no-such-option'\nTry '" + name +
                      " --help' for more information.\n",
                  bad.err);
        EXPECT_EQ("", bad.out);
    }
    ToolRun libraryVersion = Exec({kInventory, "--version"});
    EXPECT_NE(std::string::npos, libraryVersion.out.find("libvexdisplay: PNLMON Version 3.")) << libraryVersion.out;
}

// Tilo and Sarn, the Sarn's interface claimed by another program (the
// emulator refuses the claim as busy).
const char kHeldScenario[] = R"({
  "monitors": [
    {"name": "tilo", "vid": "0x04B3", "pid": "0x4676"},
    {"name": "sarn", "vid": "0x0F66", "pid": "0x467A", "fault": {"kind": "ClaimFails"}}
  ]
})";

std::string Sample(const std::string& text, const std::string& start)
{
    size_t at = text.find("\n" + start);
    return at == std::string::npos ? "" : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

TEST(ToolsUnderSim, PrometheusMetricsReplaceTheFileAfterGoodAndFailedReads)
{
    sandbox::ResetSystemFolders();
    const std::string folder = sandbox::ScratchDir() + "/textfile";
    ASSERT_EQ(0, system(("rm -rf " + folder + " && mkdir " + folder).c_str()));
    const std::string file = folder + "/pnlmon.prom";
    const std::string two = kExamples + "/two-monitors.json";

    ToolRun good = Sim(two, {kInventory, "--prometheus", "--output=" + file});
    ASSERT_EQ(0, good.status) << good.err;
    EXPECT_EQ("", good.out);
    std::string text;
    ASSERT_TRUE(sandbox::ReadFile(file, text));
    EXPECT_EQ(text, Sim(two, {kInventory, "--prometheus"}).out.substr(0, text.find("pnlmon_read_duration")) +
                        text.substr(text.find("pnlmon_read_duration")))
        << "standard output and the file differ";
    EXPECT_EQ("pnlmon_read_success 1", Sample(text, "pnlmon_read_success "));
    EXPECT_EQ("pnlmon_monitors_attached 2", Sample(text, "pnlmon_monitors_attached "));
    EXPECT_EQ("pnlmon_monitor_power_on_seconds_total{device_id=\"7427-A10-TL12345\"} 18756000",
              Sample(text, "pnlmon_monitor_power_on_seconds_total{device_id=\"7427"));
    EXPECT_EQ("pnlmon_monitor_mode_refresh_hertz{device_id=\"7429-C16-SR24680\"} 59",
              Sample(text, "pnlmon_monitor_mode_refresh_hertz{device_id=\"7429"));
    EXPECT_NE(std::string::npos, text.find("video_source=\"DisplayPort\",bus=\"1\",device=\"")) << text;

    // Blank identity memory: the labels carry the escaped bytes.
    ToolRun blank = Sim(WriteScenario("blank.json", kBlankScenario), {kInventory, "--prometheus"});
    ASSERT_EQ(0, blank.status) << blank.err;
    EXPECT_NE(std::string::npos, blank.out.find("{device_id=\"\\\\xff\\\\xff\\\\xff\\\\xff-")) << blank.out;

    // Held by another program: counted as busy, and the read still succeeds.
    ToolRun held = Sim(WriteScenario("held.json", kHeldScenario), {kInventory, "--prometheus"});
    ASSERT_EQ(0, held.status) << held.err;
    EXPECT_EQ("pnlmon_monitors_attached 2", Sample(held.out, "pnlmon_monitors_attached "));
    EXPECT_EQ("pnlmon_monitors_busy 1", Sample(held.out, "pnlmon_monitors_busy "));
    EXPECT_EQ("pnlmon_monitors_unreadable 0", Sample(held.out, "pnlmon_monitors_unreadable "));
    EXPECT_EQ("pnlmon_read_success 1", Sample(held.out, "pnlmon_read_success "));
    EXPECT_NE(std::string::npos, held.out.find("pnlmon_monitor_info{device_id=\"7427-A10-")) << held.out;

    // A flash utility runs: the file is replaced by one that says so, with
    // no monitor values left from before; the exit status is the listing's.
    pid_t utility = NamedProcess::Start("/bin/sleep", "kap_config", {"60"});
    ASSERT_GT(utility, 0);
    ToolRun flashing = Sim(two, {kInventory, "--prometheus", "--output", file});
    NamedProcess::Stop(utility);
    EXPECT_EQ(11, flashing.status) << flashing.err;
    ASSERT_TRUE(sandbox::ReadFile(file, text));
    EXPECT_EQ("pnlmon_read_success 0", Sample(text, "pnlmon_read_success "));
    EXPECT_EQ("pnlmon_flash_utility_running 1", Sample(text, "pnlmon_flash_utility_running "));
    EXPECT_EQ(std::string::npos, text.find("pnlmon_monitor")) << text;

    // Nothing but the file in the folder; an unwritable place keeps nothing.
    ToolRun nowhere = Sim(two, {kInventory, "--prometheus", "--output=" + folder + "/missing/pnlmon.prom"});
    EXPECT_EQ(74, nowhere.status);
    EXPECT_NE(std::string::npos, nowhere.err.find("missing")) << nowhere.err;
    EXPECT_EQ(0, system(("test \"$(ls -A " + folder + ")\" = pnlmon.prom").c_str()));

    EXPECT_EQ(64, Exec({kInventory, "--prometheus", "--json"}).status);
    EXPECT_EQ(64, Exec({kInventory, "--output=x.prom"}).status);
    EXPECT_EQ(64, Exec({kInventory, "--prometheus", "--id=x"}).status);
    sandbox::ResetSystemFolders();
}

}  // namespace
