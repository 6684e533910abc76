#include "CimHostTool.h"

#include "HostFormatter.h"

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

bool parseUnsigned(const std::string& text, long& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v <= 0) {
        return false;
    }
    out = v;
    return true;
}

bool parsePositive(const std::string& text, double& out)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || end == nullptr || *end != '\0' || !(v > 0) || v > 86400.0) {
        return false;
    }
    out = v;
    return true;
}

} // namespace

CimHostTool::CimHostTool(FILE* out, FILE* err) : out_(out), err_(err) {}

std::string CimHostTool::Usage()
{
    return "usage: pnlmon-cimhost [--provider PATH] [--name NAME] [--namespace NS] [--json | --brief]\n"
           "                      [--fail-set-property N] [--fail-deliver] [--fail-attach]\n"
           "                      [--fail-new-thread] COMMAND\n"
           "commands:\n"
           "  ein                          enumerate instance names of QAV_Display\n"
           "  ei                           enumerate instances\n"
           "  gi DEVICEID                  get the instance with this DeviceID\n"
           "  watch --interval S [--count N] [--list-first]\n"
           "                               subscribe to CIM_InstCreation and CIM_InstDeletion,\n"
           "                               enumerate instances every S seconds and print each\n"
           "                               indication as it arrives, until SIGINT/SIGTERM or N requests\n"
           "options:\n"
           "  --provider PATH   provider library (default: $PNLMON_PROVIDER, else libvexdisplayprov.so\n"
           "                    of the build tree or the installation)\n"
           "  --name NAME       provider name of the MI factories (default DisplayProvider)\n"
           "  --namespace NS    namespace of the requests (default root/cimv2)\n"
           "  --json            one JSON document per line instead of MOF-like text\n"
           "  --brief           one line per instance and per indication\n"
           "  --list-first      watch: list the instances before subscribing, so that only\n"
           "                    later arrivals and departures are indicated\n"
           "  --fail-set-property N  the broker refuses the N-th setProperty\n"
           "  --fail-deliver    the broker refuses deliverIndication\n"
           "  --fail-attach     the broker refuses attachThread\n"
           "  --fail-new-thread the broker's newThread starts nothing and returns NULL\n"
           "exit status: 0 every request answered CMPI_RC_OK, 1 some request did not,\n"
           "             2 the provider could not be loaded, 64 usage error\n";
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

bool CimHostTool::parse(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                std::fprintf(err_, "pnlmon-cimhost: %s needs a value\n", a.c_str());
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string v;
        if (a == "--provider") {
            if (!value(provider_)) return false;
        } else if (a == "--name") {
            if (!value(name_) || name_.empty()) return false;
        } else if (a == "--namespace") {
            if (!value(nameSpace_)) return false;
        } else if (a == "--json") {
            json_ = true;
        } else if (a == "--brief") {
            brief_ = true;
        } else if (a == "--list-first") {
            listFirst_ = true;
        } else if (a == "--fail-set-property") {
            long n = 0;
            if (!value(v) || !parseUnsigned(v, n) || n > 1000000) {
                std::fprintf(err_, "pnlmon-cimhost: --fail-set-property needs a positive number\n");
                return false;
            }
            failSetProperty_ = static_cast<unsigned>(n);
        } else if (a == "--fail-deliver") {
            failDeliver_ = true;
        } else if (a == "--fail-attach") {
            failAttach_ = true;
        } else if (a == "--fail-new-thread") {
            failNewThread_ = true;
        } else if (a == "--interval") {
            if (!value(v) || !parsePositive(v, interval_)) {
                std::fprintf(err_, "pnlmon-cimhost: --interval needs a positive number of seconds\n");
                return false;
            }
        } else if (a == "--count") {
            if (!value(v) || !parseUnsigned(v, count_)) {
                std::fprintf(err_, "pnlmon-cimhost: --count needs a positive number\n");
                return false;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(err_, "pnlmon-cimhost: unknown option %s\n", a.c_str());
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        std::fprintf(err_, "pnlmon-cimhost: no command\n");
        return false;
    }
    command_ = positional[0];
    const std::size_t want = command_ == "gi" ? 2 : 1;
    if (command_ != "ein" && command_ != "ei" && command_ != "gi" && command_ != "watch") {
        std::fprintf(err_, "pnlmon-cimhost: unknown command %s\n", command_.c_str());
        return false;
    }
    if (positional.size() != want) {
        std::fprintf(err_, "pnlmon-cimhost: wrong number of arguments for %s\n", command_.c_str());
        return false;
    }
    if (command_ == "gi") {
        deviceId_ = positional[1];
    }
    if (listFirst_ && command_ != "watch") {
        std::fprintf(err_, "pnlmon-cimhost: --list-first belongs to watch\n");
        return false;
    }
    if (command_ == "watch" && interval_ <= 0) {
        std::fprintf(err_, "pnlmon-cimhost: watch needs --interval S\n");
        return false;
    }
    if (command_ != "watch" && (interval_ > 0 || count_ > 0)) {
        std::fprintf(err_, "pnlmon-cimhost: --interval and --count belong to watch\n");
        return false;
    }
    return true;
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
        emit(nlohmann::json({{"request", what}, {"status", HostFormatter::Json(status)}}).dump() + "\n");
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
        emit(nlohmann::json({{"indication", HostFormatter::Json(indication)}}).dump() + "\n");
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
        emit(j.dump() + "\n");
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
            emit(nlohmann::json({{"request", "ei"},
                                 {"round", n},
                                 {"instances", r.instances.size()},
                                 {"status", HostFormatter::Json(r.status)}})
                     .dump() +
                 "\n");
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
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            emit(Usage());
            return kExitOk;
        }
    }
    if (!parse(args)) {
        std::fputs(Usage().c_str(), err_);
        return kExitUsage;
    }
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
