#include "ServedProcess.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>
#include <thread>

#include "Sandbox.h"

#if defined(__SANITIZE_THREAD__)
#define PNLMON_SOAK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PNLMON_SOAK_TSAN 1
#endif
#endif

bool ServedProcess::ForkSupported()
{
#ifdef PNLMON_SOAK_TSAN
    return false;
#else
    return true;
#endif
}

void ServedProcess::expect(bool ok, const std::string& what)
{
    if (!ok) {
        ++failures_;
        fprintf(stderr, "CHECK: %s\n", what.c_str());
        fflush(stderr);
    }
}

void ServedProcess::expectServes(const std::vector<std::string>& ids, const std::string& when)
{
    const std::set<std::string> expected(ids.begin(), ids.end());
    auto names = host_->enumerateInstanceNames("root/cimv2", "QAV_Display");
    std::set<std::string> seen;
    for (const auto& path : names.paths) {
        const cimhost::HostValue* key = path.findKey("DeviceID");
        seen.insert(key != nullptr ? key->text : "");
    }
    expect(names.ok() && names.done && seen == expected && names.paths.size() == ids.size(),
           when + ": enumerateInstanceNames " + cimhost::CimHost::RcName(names.status.rc) + ", " +
               std::to_string(names.paths.size()) + " paths");

    auto all = host_->enumerateInstances("root/cimv2", "QAV_Display");
    expect(all.ok() && all.done && all.instances.size() == ids.size(),
           when + ": enumerateInstances " + cimhost::CimHost::RcName(all.status.rc) + ", " +
               std::to_string(all.instances.size()) + " instances");

    for (const auto& id : ids) {
        auto one = host_->getInstance("root/cimv2", "QAV_Display", "DeviceID", id);
        expect(one.ok() && one.instances.size() == 1,
               when + ": getInstance " + id + " " + cimhost::CimHost::RcName(one.status.rc));
    }
    auto none = host_->getInstance("root/cimv2", "QAV_Display", "DeviceID", "7427-A10-0000000");
    expect(none.status.rc == CMPI_RC_ERR_NOT_FOUND && none.instances.empty(),
           when + ": getInstance of an absent monitor " + cimhost::CimHost::RcName(none.status.rc));
}

int ServedProcess::Serve(const std::function<void(ServedProcess&)>& body)
{
    ServedProcess process;
    cimhost::CimHost host;
    process.host_ = &host;
    std::string error;
    if (!host.load(PNLMON_PROVIDER_PATH, &error)) {
        process.expect(false, "load: " + error);
        return process.failures_;
    }
    body(process);
    process.expect(host.unload(), "unload: provider threads did not end");
    return process.failures_;
}

ServedProcess::Outcome ServedProcess::RunHere(const std::function<void(ServedProcess&)>& body)
{
    Outcome outcome;
    outcome.failures = Serve(body);
    return outcome;
}

ServedProcess::Outcome ServedProcess::Run(const std::function<void(ServedProcess&)>& body)
{
    // The emulator's threads may still be busy with what came before (an
    // unplug, closes it notices a moment late). A lock one of them holds in
    // mid-allocation at the fork stays locked in the child for good, so the
    // child is forked once they have had time to go idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sandbox::ChildResult child = sandbox::RunInChild([&body] { return Serve(body); });
    Outcome outcome;
    outcome.failures = child.exitCode;
    outcome.signal = child.signal;
    outcome.out = child.out;
    std::istringstream lines(child.err);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 7, "CHECK: ") == 0) {
            outcome.checks += line + "\n";
        }
    }
    // A child that failed for another reason (a sanitizer report, an abort)
    // shows the end of what it wrote.
    if (outcome.failures != 0 && outcome.checks.empty()) {
        const size_t keep = 4000;
        outcome.checks = child.err.size() > keep ? child.err.substr(child.err.size() - keep) : child.err;
    }
    return outcome;
}
