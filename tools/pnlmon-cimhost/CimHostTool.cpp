#include "CimHostTool.h"

#include "ByteText.h"
#include "HostFormatter.h"
#include "log.h"

#include <dlfcn.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

using namespace cimhost;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int)
{
    stopRequested = 1;
}

const char* const kQavClass = "QAV_Display";
const char* const kCreation = "CIM_InstCreation";
const char* const kDeletion = "CIM_InstDeletion";

std::string JsonLine(nlohmann::json document)
{
    // Monitor texts may hold bytes that are not UTF-8.
    ByteText::MakeJsonSafe(document);
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace

CimHostTool::CimHostTool(FILE* out, FILE* err) : out_(out), err_(err) {}

CommandLine CimHostTool::MakeCommandLine()
{
    return CommandLine(
        "pnlmon-cimhost",
        "[OPTION...] ein\n[OPTION...] ei\n[OPTION...] gi DEVICEID\n"
        "[OPTION...] watch --interval=S [--count=N] [--list-first] [--restart-every=N]",
        "Runs CIM requests against a CMPI provider inside an embedded CIM host and\n"
        "prints the results.\n"
        "\n"
        "Commands:\n"
        "  ein          enumerate instance names of QAV_Display\n"
        "  ei           enumerate instances\n"
        "  gi DEVICEID  get the instance with this DeviceID\n"
        "  watch        subscribe to CIM_InstCreation and CIM_InstDeletion, enumerate\n"
        "               instances every S seconds and print each indication as it\n"
        "               arrives, until SIGINT/SIGTERM or N requests",
        {
            {"provider", 0, CommandLine::kRequired, "PATH",
             "provider library (default: $PNLMON_PROVIDER, else\nlibvexdisplayprov.so of the build tree or the\ninstallation)",
             kOptProvider},
            {"name", 0, CommandLine::kRequired, "NAME", "provider name of the MI factories (default\nDisplayProvider)",
             kOptName},
            {"namespace", 0, CommandLine::kRequired, "NS", "namespace of the requests (default root/cimv2)",
             kOptNamespace},
            {"json", 'j', CommandLine::kNone, nullptr, "one JSON document per line instead of MOF-like text",
             kOptJson},
            {"brief", 'b', CommandLine::kNone, nullptr, "one line per instance and per indication", kOptBrief},
            {"interval", 'i', CommandLine::kRequired, "S", "watch: seconds between requests", kOptInterval},
            {"count", 'c', CommandLine::kRequired, "N", "watch: stop after N requests", kOptCount},
            {"list-first", 0, CommandLine::kNone, nullptr,
             "watch: list the instances before subscribing, so that\nonly later arrivals and departures are indicated",
             kOptListFirst},
            {"restart-every", 0, CommandLine::kRequired, "N",
             "watch: after every N requests, restart as a CIM\nobject manager with stored subscriptions does\n(unload, load, activateFilter, enableIndications)",
             kOptRestartEvery},
            {"fail-set-property", 0, CommandLine::kRequired, "N", "the broker refuses the N-th setProperty",
             kOptFailSetProperty},
            {"fail-deliver", 0, CommandLine::kNone, nullptr, "the broker refuses deliverIndication", kOptFailDeliver},
            {"fail-attach", 0, CommandLine::kNone, nullptr, "the broker refuses attachThread", kOptFailAttach},
            {"fail-new-thread", 0, CommandLine::kNone, nullptr, "the broker's newThread starts nothing and returns\nNULL",
             kOptFailNewThread},
        },
        "Text that is not UTF-8 in --json output keeps its key with U+FFFD for each\n"
        "bad byte and gains \"<key>Bytes\" with all its bytes in hex.\n"
        "\n"
        "Exit status:\n"
        "  0   every request answered CMPI_RC_OK\n"
        "  1   some request did not\n"
        "  2   the provider could not be loaded\n"
        "  64  usage error\n");
}

std::string CimHostTool::Usage()
{
    return MakeCommandLine().helpText();
}

std::string CimHostTool::DefaultProvider()
{
    if (const char* env = std::getenv("PNLMON_PROVIDER")) {
        if (*env != '\0') {
            return env;
        }
    }
    // Relative to this executable: the installation it belongs to, else the
    // build tree, which links the provider beside it.
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        std::string exe(self);
        std::string folder = exe.substr(0, exe.rfind('/') + 1);
        for (const char* candidate : {PNLMON_INSTALLED_PROVIDER, PNLMON_INSTALLED_PROVIDER_LIB, "libvexdisplayprov.so"}) {
            std::string path = folder + candidate;
            if (access(path.c_str(), R_OK) == 0) {
                return path;
            }
        }
    }
    return "libvexdisplayprov.so"; // left to the dynamic loader's search path
}

int CimHostTool::parseArguments(const std::vector<std::string>& args)
{
    std::vector<std::string> words;
    words.push_back("pnlmon-cimhost");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);

    CommandLine commandLine = MakeCommandLine();
    int status = commandLine.parse(static_cast<int>(words.size()), argv.data(),
                                   [&](int id, const char* value, std::string& error) {
                                       return option(id, value, error);
                                   },
                                   out_, err_);
    if (status != CommandLine::kContinue) {
        return status;
    }
    verbosity_ = commandLine.verbosity();
    const std::vector<std::string>& positional = commandLine.operands();
    auto usage = [&](const std::string& message) { return commandLine.usageError(message, err_); };
    if (positional.empty()) {
        return usage("no command");
    }
    command_ = positional[0];
    const std::size_t want = command_ == "gi" ? 2 : 1;
    if (command_ != "ein" && command_ != "ei" && command_ != "gi" && command_ != "watch") {
        return usage("unknown command " + command_);
    }
    if (positional.size() != want) {
        return usage("wrong number of arguments for " + command_);
    }
    if (command_ == "gi") {
        deviceId_ = positional[1];
    }
    if (listFirst_ && command_ != "watch") {
        return usage("--list-first belongs to watch");
    }
    if (restartEvery_ > 0 && command_ != "watch") {
        return usage("--restart-every belongs to watch");
    }
    if (command_ == "watch" && interval_ <= 0) {
        return usage("watch needs --interval S");
    }
    if (command_ != "watch" && (interval_ > 0 || count_ > 0)) {
        return usage("--interval and --count belong to watch");
    }
    return CommandLine::kContinue;
}

bool CimHostTool::option(int id, const char* value, std::string& error)
{
    long n = 0;
    switch (id) {
    case kOptProvider: provider_ = value; return true;
    case kOptName:
        name_ = value;
        if (name_.empty()) {
            error = "--name needs a provider name";
            return false;
        }
        return true;
    case kOptNamespace: nameSpace_ = value; return true;
    case kOptJson: json_ = true; return true;
    case kOptBrief: brief_ = true; return true;
    case kOptListFirst: listFirst_ = true; return true;
    case kOptFailSetProperty:
        if (!CommandLine::ParseLong(value, 1, 1000000, n)) {
            error = "--fail-set-property needs a positive number";
            return false;
        }
        failSetProperty_ = static_cast<unsigned>(n);
        return true;
    case kOptFailDeliver: failDeliver_ = true; return true;
    case kOptFailAttach: failAttach_ = true; return true;
    case kOptFailNewThread: failNewThread_ = true; return true;
    case kOptInterval:
        if (!CommandLine::ParseSeconds(value, 86400.0, interval_) || interval_ <= 0) {
            error = "--interval needs a positive number of seconds";
            return false;
        }
        return true;
    case kOptRestartEvery:
        if (!CommandLine::ParseLong(value, 1, 1000000000L, restartEvery_)) {
            error = "--restart-every needs a positive number";
            return false;
        }
        return true;
    case kOptCount:
        if (!CommandLine::ParseLong(value, 1, 1000000000L, count_)) {
            error = "--count needs a positive number";
            return false;
        }
        return true;
    default:
        return false;
    }
}

void CimHostTool::emit(const std::string& text)
{
    std::lock_guard<std::mutex> lock(outMutex_);
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

void CimHostTool::report(const std::string& what, const HostStatus& status)
{
    if (!status.ok()) {
        anyFailed_ = true;
    }
    if (json_) {
        emit(JsonLine(nlohmann::json({{"request", what}, {"status", HostFormatter::Json(status)}})));
        return;
    }
    std::string line = (what.empty() ? "" : what + ": ") + "status: " + CimHost::RcName(status.rc);
    if (status.hasMessage) {
        line += " (" + status.message + ")";
    }
    emit(line + "\n");
}

std::string CimHostTool::briefLine(const HostInstance& instance) const
{
    auto text = [&](const char* name) {
        const HostValue* v = instance.find(name);
        return v != nullptr ? v->text : std::string();
    };
    auto number = [&](const char* name) {
        const HostValue* v = instance.find(name);
        return v != nullptr ? std::to_string(v->uint) : std::string("?");
    };
    return text("DeviceID") + "  " + text("ManufacturerName") + " " + text("PhysicalDeviceName") + "-" +
           text("ModelName") + "  firmware " + text("FirmwareRevision") + "  " + number("HorizontalResolution") +
           "x" + number("VerticalResolution") + "@" + number("RefreshRate") + "Hz on " + text("CurrentVideoSource") +
           "  " + number("HoursPoweredCount") + " h";
}

void CimHostTool::printIndication(const HostIndication& indication)
{
    if (json_) {
        emit(JsonLine(nlohmann::json({{"indication", HostFormatter::Json(indication)}})));
        return;
    }
    if (brief_) {
        const HostValue* source = indication.instance.find("SourceInstance");
        std::string what = source != nullptr && source->instance ? briefLine(*source->instance) : "(no SourceInstance)";
        emit("indication " + indication.instance.className() + ": " + what + "\n");
        return;
    }
    emit("indication " + indication.instance.className() + " in " + indication.nameSpace + "\n" +
         HostFormatter::Mof(indication.instance));
}

int CimHostTool::commandInstances(const std::string& command)
{
    RequestResult r;
    if (command == "ein") {
        r = host_->enumerateInstanceNames(nameSpace_, kQavClass);
    } else if (command == "ei") {
        r = host_->enumerateInstances(nameSpace_, kQavClass);
    } else {
        r = host_->getInstance(nameSpace_, kQavClass, "DeviceID", deviceId_);
    }
    if (r.status.ok() && !r.done) {
        std::fprintf(err_, "pnlmon-cimhost: warning: the provider did not call returnDone\n");
    }
    if (json_) {
        nlohmann::json j = {{"request", command}, {"status", HostFormatter::Json(r.status)}};
        if (command == "ein") {
            j["paths"] = nlohmann::json::array();
            for (const auto& p : r.paths) {
                j["paths"].push_back(HostFormatter::Json(p));
            }
        } else {
            j["instances"] = nlohmann::json::array();
            for (const auto& i : r.instances) {
                j["instances"].push_back(HostFormatter::Json(i));
            }
        }
        emit(JsonLine(std::move(j)));
        if (!r.status.ok()) {
            anyFailed_ = true;
        }
    } else {
        std::string text;
        for (const auto& p : r.paths) {
            text += p.toString() + "\n";
        }
        for (const auto& i : r.instances) {
            text += brief_ ? "  " + briefLine(i) + "\n" : HostFormatter::Mof(i);
        }
        emit(text);
        report("", r.status);
    }
    return anyFailed_ ? kExitFailed : kExitOk;
}

int CimHostTool::commandWatch()
{
    HostStatus loaded = host_->loadIndicationMI();
    if (!loaded.ok()) {
        report("load indication MI", loaded);
        return kExitLoad;
    }
    if (listFirst_) {
        // The first request gives the provider its picture of the attached
        // monitors before anyone subscribes; only later changes are indicated.
        int rc = commandInstances("ei");
        if (rc != kExitOk) {
            return rc;
        }
    }
    host_->indications().setListener([this](const HostIndication& ind) { printIndication(ind); });

    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    report(std::string("activateFilter ") + kCreation, host_->activateFilter(kCreation, true));
    report(std::string("activateFilter ") + kDeletion, host_->activateFilter(kDeletion, true));
    host_->enableIndications();

    const auto step = std::chrono::milliseconds(50);
    const auto interval = std::chrono::duration<double>(interval_);
    for (long n = 1; !stopRequested && (count_ == 0 || n <= count_); ++n) {
        RequestResult r = host_->enumerateInstances(nameSpace_, kQavClass);
        if (!r.status.ok()) {
            anyFailed_ = true;
        }
        if (json_) {
            emit(JsonLine(nlohmann::json({{"request", "ei"},
                                          {"round", n},
                                          {"instances", r.instances.size()},
                                          {"status", HostFormatter::Json(r.status)}})));
        } else {
            std::string line = "ei #" + std::to_string(n) + ": " + std::to_string(r.instances.size()) +
                               " instances, status: " + CimHost::RcName(r.status.rc);
            if (r.status.hasMessage) {
                line += " (" + r.status.message + ")";
            }
            emit(line + "\n");
        }
        host_->indications().take(); // printed already
        if (count_ != 0 && n == count_) {
            break;
        }
        if (restartEvery_ > 0 && n % restartEvery_ == 0) {
            // The subscriptions survive; only changes from here on are
            // indicated.
            HostStatus restarted = host_->restartWithSubscriptions(nullptr, {kCreation, kDeletion});
            report("restart", restarted);
            if (!restarted.ok()) {
                break;
            }
        }
        const auto until = std::chrono::steady_clock::now() + interval;
        while (!stopRequested && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(step);
        }
    }
    // Let indications of the last request arrive before unsubscribing.
    host_->waitForProviderThreads(std::chrono::seconds(5));
    host_->disableIndications();
    report(std::string("deActivateFilter ") + kCreation, host_->deActivateFilter(kCreation, true));
    report(std::string("deActivateFilter ") + kDeletion, host_->deActivateFilter(kDeletion, true));
    return anyFailed_ ? kExitFailed : kExitOk;
}

int CimHostTool::run(const std::vector<std::string>& args)
{
    int status = parseArguments(args);
    if (status != CommandLine::kContinue) {
        return status;
    }
    return execute();
}

void CimHostTool::MirrorDriverLog(int level)
{
    // The driver library the provider brought in, if any: its log lines go
    // to standard error as well, at the level asked for.
    void* driver = dlopen("libvexdisplay.so." PNLMON_DRIVER_SOVERSION, RTLD_NOW | RTLD_NOLOAD);
    if (driver == nullptr) {
        return;
    }
    // LogMirrorToStandardError(LOG_LEVEL), by its C++ symbol name, called
    // through a pointer of its own type.
    typedef decltype(&LogMirrorToStandardError) MirrorFunction;
    auto mirror = reinterpret_cast<MirrorFunction>(dlsym(driver, "_Z24LogMirrorToStandardError9LOG_LEVEL"));
    if (mirror != nullptr) {
        mirror(static_cast<LOG_LEVEL>(level));
    }
    dlclose(driver);
}

int CimHostTool::execute()
{
    if (provider_.empty()) {
        provider_ = DefaultProvider();
    }
    CimHostOptions options;
    options.providerName = name_;
    options.nameSpace = nameSpace_;
    CimHost host(options);
    host_ = &host;
    std::string error;
    if (!host.load(provider_, &error)) {
        std::fprintf(err_, "pnlmon-cimhost: cannot load %s: %s\n", provider_.c_str(), error.c_str());
        return kExitLoad;
    }
    MirrorDriverLog(verbosity_);
    if (failSetProperty_ != 0) {
        host.failSetProperty(failSetProperty_);
    }
    host.refuseDeliverIndication(failDeliver_);
    host.failAttachThread(failAttach_);
    host.failNewThread(failNewThread_);

    HostStatus loaded = host.loadInstanceMI();
    if (!loaded.ok()) {
        report("load instance MI", loaded);
        return kExitLoad;
    }
    int rc = command_ == "watch" ? commandWatch() : commandInstances(command_);
    host.unload();
    host_ = nullptr;
    return rc;
}
