// Small helpers shared by the provider's source files: the provider's own
// identification texts, its namespace, and status and text shorthands.
#ifndef PNLMON_PROVIDERSUPPORT_H
#define PNLMON_PROVIDERSUPPORT_H

#include "cmpidt.h"

namespace displayprov {

// Distinct from the driver's exported objects of the same names.
extern const char PnlmonlVersion[];
// "Built " and the build time as "Tue Apr  8 16:16:25 2014".
const char* BuildDate();

inline constexpr char kNameSpace[] = "root/cimv2";

inline CMPIStatus Status(CMPIrc rc)
{
    CMPIStatus status;
    status.rc = rc;
    status.msg = nullptr;
    return status;
}

}  // namespace displayprov

#endif
