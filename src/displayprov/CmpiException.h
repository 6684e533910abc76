// The provider's one failure type for broker calls: carries the CMPIStatus
// the broker answered, by value.
#ifndef PNLMON_CMPIEXCEPTION_H
#define PNLMON_CMPIEXCEPTION_H

#include <string>

#include "cmpidt.h"

class CmpiException {
public:
    explicit CmpiException(const CMPIStatus& status) : status(status) {}
    CmpiException(CMPIrc rc, CMPIString* msg)
    {
        status.rc = rc;
        status.msg = msg;
    }

    const CMPIStatus& getStatus() const { return status; }
    CMPIrc getCode() const { return status.rc; }

    // The message text, empty when the status has none or the broker cannot
    // give its text.
    std::string getMessage() const;

private:
    CMPIStatus status;
};

#endif
