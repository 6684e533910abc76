// One driver as a fault-matrix cell uses it: either a DisplayApi of this
// process (the driver path) or the provider loaded into the embedded CIMOM
// host, which owns a DisplayApi of its own (the provider path). Each
// enumerate() is one enumeration of the bus, with the log lines it wrote.
#ifndef PNLMON_TEST_FAULTS_ENUMERATIONSESSION_H
#define PNLMON_TEST_FAULTS_ENUMERATIONSESSION_H

#include <memory>
#include <string>
#include <vector>

#include "CimHost.h"
#include "display.h"

namespace faults {

enum class Path { Driver, Provider };

const char* PathName(Path path);

struct Enumeration {
    // What getDisplayInformationList answered (in the provider path, as the
    // driver logged it on return); -1 when not seen.
    int displayCode = -1;
    // The CIM status of the enumerate-instances request (provider path).
    int cimStatus = -1;
    std::vector<std::string> ids;                  // the listed monitors, in order
    std::vector<DisplayInformation> records;       // driver path
    std::vector<cimhost::HostInstance> instances;  // provider path
    std::vector<std::string> log;                  // message fields, in order
};

class EnumerationSession {
public:
    explicit EnumerationSession(Path path);
    ~EnumerationSession();
    EnumerationSession(const EnumerationSession&) = delete;
    EnumerationSession& operator=(const EnumerationSession&) = delete;

    // False (with the reason) when the driver or the provider did not start.
    bool ready(std::string* why) const;
    Enumeration enumerate();

    // Routes the log of both libraries to a file on the private scratch
    // tmpfs, unlimited in size. Must run before the first log line.
    static void RouteLog();
    static std::vector<std::string> LogSince(size_t offset);
    static size_t LogSize();

private:
    Path path;
    std::unique_ptr<DisplayApi> api;
    std::unique_ptr<cimhost::CimHost> host;
    std::string failure;
};

// The device identifier of a record.
std::string IdOf(const DisplayInformation& record);

}  // namespace faults

#endif
