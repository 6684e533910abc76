// Takes the place of DisplayApi::getDisplayInformationList for the provider
// (the benchmark exports it, and the provider binds to the first definition
// in the process's global scope), forwards to the driver's own definition and
// adds the calling thread's CPU time inside it to CpuMeter. So "thread CPU of
// a request minus metered CPU" is what the host and the provider cost beyond
// the driver.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "CpuMeter.h"
#include "display.h"

namespace {
typedef DISPLAY_CODE (*GetListFn)(DisplayApi*, DisplayInformationList&);

GetListFn DriverDefinition()
{
    // The driver comes in with the provider (dlopen, local scope), so it is
    // looked up in its own library rather than with RTLD_NEXT.
    const char* mangled = "_ZN10DisplayApi25getDisplayInformationListER22DisplayInformationList";
    void* library = dlopen(PNLMON_DRIVER_SONAME, RTLD_NOW | RTLD_NOLOAD);
    void* symbol = library != nullptr ? dlsym(library, mangled) : nullptr;
    if (symbol == nullptr) {
        fprintf(stderr, "DriverMeter: %s not found in %s\n", mangled, PNLMON_DRIVER_SONAME);
        abort();
    }
    return reinterpret_cast<GetListFn>(symbol);
}
}  // namespace

DISPLAY_CODE DisplayApi::getDisplayInformationList(DisplayInformationList& list)
{
    static GetListFn real = DriverDefinition();
    CpuMeter::Scope scope;
    return real(this, list);
}
