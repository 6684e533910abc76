// What one request to a provider produced, as plain data.
#pragma once

#include "HostInstance.h"
#include "HostObjectPath.h"
#include "HostValue.h"

#include <cmpidt.h>

#include <string>
#include <vector>

namespace cimhost {

// A CMPIStatus as plain data.
struct HostStatus {
    CMPIrc rc = CMPI_RC_OK;
    bool hasMessage = false; // msg was a non-NULL string
    std::string message;

    bool ok() const { return rc == CMPI_RC_OK; }
};

struct RequestResult {
    HostStatus status;
    std::vector<HostObjectPath> paths;    // returnObjectPath, in order
    std::vector<HostInstance> instances;  // returnInstance, in order
    std::vector<HostValue> data;          // returnData, in order
    bool done = false;                    // returnDone was called
    unsigned doneCalls = 0;
    unsigned itemsAfterDone = 0;          // items returned after returnDone

    bool ok() const { return status.ok(); }
};

} // namespace cimhost
