// What an indication thread receives: everything it needs, so that it
// touches no provider state.
#ifndef PNLMON_INDICATEARGS_H
#define PNLMON_INDICATEARGS_H

#include <cstdint>

#include "cmpidt.h"

class QAV_Display;

struct IndicateArgs {
    const CMPIBroker* broker;
    const CMPIContext* ind_ctx;
    int32_t type;            // 0 = creation, anything else = deletion
    QAV_Display* display;    // owned by the thread
};

#endif
