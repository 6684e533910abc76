#include "EnumerationSession.h"

#include <unistd.h>

#include <cstdio>

#include "Sandbox.h"
#include "TestSupport.h"

namespace faults {
namespace {

const char kNameSpace[] = "root/cimv2";
const char kClass[] = "QAV_Display";
const char kExitLine[] = "API: getDisplayInformation exit, dspcode=0x";

std::string LogFile()
{
    static const std::string file = sandbox::ScratchDir() + "/faults." + std::to_string(getpid()) + ".log";
    return file;
}

// The code of the driver's last exit line among `lines`.
int LoggedDisplayCode(const std::vector<std::string>& lines)
{
    int code = -1;
    for (const std::string& line : lines) {
        if (line.compare(0, sizeof(kExitLine) - 1, kExitLine) == 0) {
            code = static_cast<int>(std::stoul(line.substr(sizeof(kExitLine) - 1), nullptr, 16));
        }
    }
    return code;
}

}  // namespace

const char* PathName(Path path)
{
    return path == Path::Driver ? "DisplayApi" : "provider";
}

std::string IdOf(const DisplayInformation& record)
{
    return record.physicalDeviceName + "-" + record.modelName + "-" + record.serialNumber;
}

void EnumerationSession::RouteLog()
{
    sandbox::WriteFile("/etc/pnlmon/log.conf", "FileName=" + LogFile() + "\nLevel=4\nMaxLength=4294967295\n");
}

size_t EnumerationSession::LogSize()
{
    return testsupport::FileSize(LogFile());
}

std::vector<std::string> EnumerationSession::LogSince(size_t offset)
{
    return testsupport::Messages(testsupport::ReadFrom(LogFile(), offset));
}

EnumerationSession::EnumerationSession(Path path_) : path(path_)
{
    if (path == Path::Driver) {
        api.reset(new DisplayApi());
        DISPLAY_CODE code = api->initialiseDisplayDriver();
        if (code != DSP_OK) {
            failure = "initialiseDisplayDriver answered " + std::to_string(code);
        }
        return;
    }
    host.reset(new cimhost::CimHost());
    if (!host->load(PNLMON_PROVIDER_PATH, &failure)) {
        failure = "cannot load the provider: " + failure;
        host.reset();
    }
}

EnumerationSession::~EnumerationSession()
{
    testsupport::StdoutCapture quiet;
    api.reset();
    if (host) {
        if (!host->unload()) {
            fprintf(stderr, "faults: the provider's threads did not end\n");
        }
        host.reset();
    }
}

bool EnumerationSession::ready(std::string* why) const
{
    if (why != nullptr) {
        *why = failure;
    }
    return failure.empty();
}

Enumeration EnumerationSession::enumerate()
{
    Enumeration result;
    size_t start = LogSize();
    {
        // The libraries trace to standard output; keep it out of the test report.
        testsupport::StdoutCapture quiet;
        if (path == Path::Driver) {
            DisplayInformationList list;
            result.displayCode = api->getDisplayInformationList(list);
            result.records.assign(list.begin(), list.end());
        } else {
            cimhost::RequestResult answer = host->enumerateInstances(kNameSpace, kClass);
            result.cimStatus = answer.status.rc;
            result.instances = answer.instances;
        }
    }
    result.log = LogSince(start);
    if (path == Path::Driver) {
        for (const DisplayInformation& record : result.records) {
            result.ids.push_back(IdOf(record));
        }
    } else {
        result.displayCode = LoggedDisplayCode(result.log);
        for (const cimhost::HostInstance& instance : result.instances) {
            const cimhost::HostValue* id = instance.find("DeviceID");
            result.ids.push_back(id != nullptr ? id->text : "<no DeviceID>");
        }
    }
    return result;
}

}  // namespace faults
