#include "BenchSandbox.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Preload.h"
#include "Sandbox.h"

bool BenchSandbox::Enter(int argc, char** argv)
{
    // Run from the build tree, where the preload shim is not beside it.
    setenv("PNLMON_NLFIX", PNLMON_BUILD_NLFIX, 0);
    usbemu::EnsurePreload(argc, argv);
    std::string error;
    if (!sandbox::Enter(&error, /*ownPids=*/true)) {
        fprintf(stderr, "cannot enter the private namespaces: %s\n", error.c_str());
        return false;
    }
    setenv("TMPDIR", sandbox::ScratchDir().c_str(), 1);
    return true;
}
