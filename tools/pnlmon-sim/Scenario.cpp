#include "Scenario.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

using nlohmann::json;

namespace {

constexpr std::size_t kMaxEdid = 256;

// A problem in the scenario, with the place it was found.
struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what)
{
    throw ScenarioError(where + ": " + what);
}

void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& allowed)
{
    if (!object.is_object()) {
        Fail(where, "must be an object");
    }
    for (const auto& item : object.items()) {
        if (allowed.count(item.key()) == 0) {
            Fail(where, "unknown key \"" + item.key() + "\"");
        }
    }
}

// A number, given as a JSON number or as text ("0x04B3", "1203").
unsigned long Number(const json& value, const std::string& where, unsigned long max)
{
    unsigned long number = 0;
    if (value.is_number_unsigned()) {
        number = value.get<unsigned long>();
    } else if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::size_t used = 0;
        try {
            number = std::stoul(text, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size() || text[0] == '-') {
            Fail(where, "\"" + text + "\" is not a number");
        }
    } else {
        Fail(where, "must be a non-negative number");
    }
    if (number > max) {
        Fail(where, std::to_string(number) + " is above " + std::to_string(max));
    }
    return number;
}

std::vector<uint8_t> Hex(const std::string& text, const std::string& where)
{
    std::vector<uint8_t> bytes;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':' || c == ',') {
            continue;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && high < 0) {
            ++i;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            Fail(where, std::string("'") + c + "' is not a hexadecimal digit");
        }
        int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        Fail(where, "odd number of hexadecimal digits");
    }
    return bytes;
}

std::string Text(const json& value, const std::string& where)
{
    if (!value.is_string()) {
        Fail(where, "must be a string");
    }
    return value.get<std::string>();
}

bool Flag(const json& value, const std::string& where)
{
    if (!value.is_boolean()) {
        Fail(where, "must be true or false");
    }
    return value.get<bool>();
}

std::vector<uint8_t> ReadEdidFile(const std::string& path, const std::string& where)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(where, "cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
    if (bytes.size() > 4 * kMaxEdid) {
        Fail(where, path + " is too large for an EDID");
    }
    bool text = !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) || std::isspace(static_cast<unsigned char>(c));
    });
    return text ? Hex(bytes, where) : std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Edid(const json& value, const std::string& where, const std::string& baseDir)
{
    std::vector<uint8_t> edid;
    bool fixChecksum = false;
    if (value.is_string()) {
        edid = Hex(value.get<std::string>(), where);
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            std::vector<uint8_t> block = Hex(Text(value[i], where), where + "[" + std::to_string(i) + "]");
            edid.insert(edid.end(), block.begin(), block.end());
        }
    } else {
        CheckKeys(value, where, {"hex", "file", "fixChecksum"});
        if (value.contains("hex") == value.contains("file")) {
            Fail(where, "needs exactly one of \"hex\" and \"file\"");
        }
        if (value.contains("hex")) {
            edid = Hex(Text(value["hex"], where + ".hex"), where + ".hex");
        } else {
            std::string file = Text(value["file"], where + ".file");
            edid = ReadEdidFile(file.empty() || file[0] == '/' ? file : baseDir + "/" + file, where + ".file");
        }
        if (value.contains("fixChecksum")) {
            fixChecksum = Flag(value["fixChecksum"], where + ".fixChecksum");
        }
    }
    if (edid.empty() || edid.size() > kMaxEdid) {
        Fail(where, "an EDID has 1 to 256 bytes, not " + std::to_string(edid.size()));
    }
    if (fixChecksum) {
        usbemu::FixEdidChecksum(edid);
    }
    return edid;
}

std::vector<uint8_t> Report(const std::vector<uint8_t>& bytes, const std::string& where)
{
    if (bytes.empty() || bytes.size() > usbemu::kReportLength) {
        Fail(where, "a report has 1 to 48 bytes, not " + std::to_string(bytes.size()));
    }
    return bytes;
}

std::vector<uint8_t> Inventory(const json& value, const std::string& where)
{
    if (value.is_string()) {
        return Report(Hex(value.get<std::string>(), where), where);
    }
    CheckKeys(value, where,
              {"firmwareRevision", "machine", "model", "serialNumber", "powerOnSeconds", "backlightOnSeconds",
               "brightness", "status0", "status1", "status2to7"});
    usbemu::InventoryFields fields;
    auto text = [&](const char* key, std::string& field, std::size_t width) {
        if (value.contains(key)) {
            field = Text(value[key], where + "." + key);
            if (field.size() > width) {
                Fail(where + "." + key, "longer than " + std::to_string(width) + " characters");
            }
        }
    };
    text("firmwareRevision", fields.firmwareRevision, 4);
    text("machine", fields.machine, 4);
    text("model", fields.model, 3);
    text("serialNumber", fields.serialNumber, 7);
    auto number = [&](const char* key, unsigned long max) -> unsigned long {
        return Number(value[key], where + "." + key, max);
    };
    if (value.contains("powerOnSeconds")) {
        fields.powerOnSeconds = static_cast<uint32_t>(number("powerOnSeconds", 0xFFFFFFFFul));
    }
    if (value.contains("backlightOnSeconds")) {
        fields.backlightOnSeconds = static_cast<uint32_t>(number("backlightOnSeconds", 0xFFFFFFFFul));
    }
    if (value.contains("brightness")) {
        fields.brightness = static_cast<uint8_t>(number("brightness", 255));
    }
    if (value.contains("status0")) {
        fields.status0 = static_cast<uint8_t>(number("status0", 255));
    }
    if (value.contains("status1")) {
        fields.status1 = static_cast<uint8_t>(number("status1", 255));
    }
    if (value.contains("status2to7")) {
        const json& list = value["status2to7"];
        if (!list.is_array() || list.size() != 6) {
            Fail(where + ".status2to7", "must be a list of 6 numbers");
        }
        for (std::size_t i = 0; i < 6; ++i) {
            fields.status2to7[i] = static_cast<uint8_t>(Number(list[i], where + ".status2to7", 255));
        }
    }
    return fields.bytes();
}

std::optional<usbemu::Command> CommandNamed(const std::string& name, const std::string& where)
{
    if (name == "inventory") {
        return usbemu::Command::Inventory;
    }
    if (name == "edid") {
        return usbemu::Command::Edid;
    }
    if (name == "osd") {
        return usbemu::Command::Osd;
    }
    if (name == "any") {
        return std::nullopt;
    }
    Fail(where, "\"" + name + "\" is not one of inventory, edid, osd, any");
}

usbemu::Fault FaultOf(const json& value, const std::string& where)
{
    CheckKeys(value, where, {"kind", "command", "readIndex", "shortLength", "times"});
    usbemu::Fault fault;
    if (!value.contains("kind") || !usbemu::ParseFaultKind(Text(value["kind"], where + ".kind"), fault.kind)) {
        Fail(where + ".kind", "needs a fault kind such as \"ReadTimeout\"");
    }
    if (value.contains("command")) {
        fault.command = CommandNamed(Text(value["command"], where + ".command"), where + ".command");
    }
    if (value.contains("readIndex")) {
        fault.readIndex = static_cast<int>(Number(value["readIndex"], where + ".readIndex", 5));
    }
    if (value.contains("shortLength")) {
        fault.shortLength = static_cast<int>(Number(value["shortLength"], where + ".shortLength", 48));
    }
    if (value.contains("times")) {
        const json& times = value["times"];
        if (times.is_number_integer() && times.get<long>() == -1) {
            fault.times = -1;
        } else {
            fault.times = static_cast<int>(Number(times, where + ".times", 1000000));
        }
    }
    return fault;
}

ScenarioMonitor MonitorOf(const json& value, const std::string& where, const std::string& baseDir)
{
    CheckKeys(value, where,
              {"name", "vid", "pid", "bcdDevice", "present", "inventory", "edid", "osd", "interfaces",
               "endpoints", "endpoint", "maxPacketSize", "kernelDriverBound", "fault"});
    ScenarioMonitor monitor;
    usbemu::MonitorSpec& spec = monitor.spec;
    if (!value.contains("name")) {
        Fail(where, "needs a \"name\"");
    }
    spec.name = Text(value["name"], where + ".name");
    if (spec.name.empty() || spec.name.find_first_of(" \t\r\n") != std::string::npos) {
        Fail(where + ".name", "must be a non-empty word");
    }
    const std::string at = where + " (" + spec.name + ")";
    if (value.contains("vid")) {
        spec.vid = static_cast<uint16_t>(Number(value["vid"], at + ".vid", 0xFFFF));
    }
    if (value.contains("pid")) {
        spec.pid = static_cast<uint16_t>(Number(value["pid"], at + ".pid", 0xFFFF));
    }
    if (value.contains("bcdDevice")) {
        spec.bcdDevice = static_cast<uint16_t>(Number(value["bcdDevice"], at + ".bcdDevice", 0xFFFF));
    }
    if (value.contains("present")) {
        monitor.present = Flag(value["present"], at + ".present");
    }
    if (value.contains("inventory")) {
        spec.inventory = Inventory(value["inventory"], at + ".inventory");
    }
    if (value.contains("edid")) {
        spec.edid = Edid(value["edid"], at + ".edid", baseDir);
    }
    if (value.contains("osd")) {
        const json& osd = value["osd"];
        if (osd.is_string()) {
            spec.osd = Report(Hex(osd.get<std::string>(), at + ".osd"), at + ".osd");
        } else {
            spec.osd = usbemu::MakeOsd(static_cast<uint8_t>(Number(osd, at + ".osd", 255)));
        }
    }
    if (value.contains("interfaces")) {
        spec.numInterfaces = static_cast<uint8_t>(Number(value["interfaces"], at + ".interfaces", 4));
    }
    if (value.contains("endpoints")) {
        spec.numEndpoints = static_cast<uint8_t>(Number(value["endpoints"], at + ".endpoints", 4));
    }
    if (value.contains("endpoint")) {
        spec.endpoint = static_cast<uint8_t>(Number(value["endpoint"], at + ".endpoint", 0xFF));
    }
    if (value.contains("maxPacketSize")) {
        spec.maxPacketSize = static_cast<uint16_t>(Number(value["maxPacketSize"], at + ".maxPacketSize", 1024));
    }
    if (value.contains("kernelDriverBound")) {
        spec.kernelDriverBound = Flag(value["kernelDriverBound"], at + ".kernelDriverBound");
    }
    if (value.contains("fault")) {
        monitor.fault = FaultOf(value["fault"], at + ".fault");
    }
    return monitor;
}

}  // namespace

bool Scenario::load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::size_t slash = path.rfind('/');
    std::string baseDir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    if (!parse(content.str(), baseDir, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool Scenario::parse(const std::string& text, const std::string& baseDir, std::string& error)
{
    monitorList.clear();
    events.clear();
    try {
        json root = json::parse(text);
        CheckKeys(root, "scenario", {"monitors", "timeline", "comment"});
        if (!root.contains("monitors") || !root["monitors"].is_array()) {
            Fail("scenario", "needs a \"monitors\" list");
        }
        const json& monitors = root["monitors"];
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            ScenarioMonitor monitor = MonitorOf(monitors[i], "monitors[" + std::to_string(i) + "]", baseDir);
            if (find(monitor.spec.name) != nullptr) {
                Fail("monitors[" + std::to_string(i) + "]", "the name \"" + monitor.spec.name + "\" is used twice");
            }
            monitorList.push_back(std::move(monitor));
        }
        if (root.contains("timeline")) {
            const json& timeline = root["timeline"];
            if (!timeline.is_array()) {
                Fail("timeline", "must be a list");
            }
            for (std::size_t i = 0; i < timeline.size(); ++i) {
                events.push_back(EventOf(timeline[i], "timeline[" + std::to_string(i) + "]"));
            }
            std::stable_sort(events.begin(), events.end(),
                             [](const TimelineEvent& a, const TimelineEvent& b) { return a.at < b.at; });
        }
    } catch (const json::exception& e) {
        error = std::string("not valid JSON: ") + e.what();
        return false;
    } catch (const ScenarioError& e) {
        error = e.what();
        return false;
    }
    return true;
}

TimelineEvent Scenario::EventOf(const json& entry, const std::string& where) const
{
    CheckKeys(entry, where, {"at", "plug", "unplug", "hold", "seconds", "as", "run"});
    if (!entry.contains("at") || !entry["at"].is_number() || !std::isfinite(entry["at"].get<double>()) ||
        entry["at"].get<double>() < 0 || entry["at"].get<double>() > 1e6) {
        Fail(where, "needs \"at\": seconds after the start (0 or more)");
    }
    int actions = 0;
    for (const char* key : {"plug", "unplug", "hold", "run"}) {
        actions += entry.contains(key) ? 1 : 0;
    }
    if (actions != 1) {
        Fail(where, "needs exactly one of \"plug\", \"unplug\", \"hold\" and \"run\"");
    }
    TimelineEvent event;
    event.at = entry["at"].get<double>();
    if (entry.contains("run")) {
        for (const char* key : {"seconds", "as"}) {
            if (entry.contains(key)) {
                Fail(where, std::string("\"") + key + "\" belongs to a \"hold\"");
            }
        }
        event.kind = TimelineEvent::Run;
        const json& command = entry["run"];
        if (!command.is_array() || command.empty()) {
            Fail(where + ".run", "must be a list: the program and its arguments");
        }
        for (std::size_t i = 0; i < command.size(); ++i) {
            event.command.push_back(Text(command[i], where + ".run[" + std::to_string(i) + "]"));
        }
        if (event.command[0].empty()) {
            Fail(where + ".run[0]", "names no program");
        }
        return event;
    }
    event.kind = entry.contains("plug") ? TimelineEvent::Plug
                 : entry.contains("unplug") ? TimelineEvent::Unplug
                                            : TimelineEvent::Hold;
    const char* key = event.kind == TimelineEvent::Plug ? "plug" : event.kind == TimelineEvent::Unplug ? "unplug" : "hold";
    event.name = Text(entry[key], where + "." + key);
    if (find(event.name) == nullptr) {
        Fail(where, "no monitor is named \"" + event.name + "\"");
    }
    if (event.kind != TimelineEvent::Hold) {
        for (const char* extra : {"seconds", "as"}) {
            if (entry.contains(extra)) {
                Fail(where, std::string("\"") + extra + "\" belongs to a \"hold\"");
            }
        }
        return event;
    }
    if (!entry.contains("seconds") || !entry["seconds"].is_number() ||
        !std::isfinite(entry["seconds"].get<double>()) || entry["seconds"].get<double>() <= 0 ||
        entry["seconds"].get<double>() > 86400) {
        Fail(where, "a hold needs \"seconds\": more than 0, at most 86400");
    }
    event.seconds = entry["seconds"].get<double>();
    if (entry.contains("as")) {
        event.as = Text(entry["as"], where + ".as");
        std::string problem = CheckProcessName(event.as);
        if (!problem.empty()) {
            Fail(where + ".as", problem);
        }
    }
    return event;
}

std::string Scenario::CheckProcessName(const std::string& name)
{
    if (name.empty() || name.size() > 15) {
        return "a process name has 1 to 15 characters";
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') {
            return "a process name has only letters, digits, '_', '-' and '.'";
        }
    }
    return std::string();
}

const ScenarioMonitor* Scenario::find(const std::string& name) const
{
    for (const ScenarioMonitor& monitor : monitorList) {
        if (monitor.spec.name == name) {
            return &monitor;
        }
    }
    return nullptr;
}
