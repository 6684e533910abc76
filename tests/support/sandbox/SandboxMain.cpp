// main() for test binaries that use the fixed system folders: enters the
// private mount namespace while the process still has one thread, with a PID
// namespace of its own, so that no process another test starts (a fake
// flash utility, say) can change what this one sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Sandbox.h"

int main(int argc, char** argv)
{
    std::string error;
    if (!sandbox::Enter(&error, /*ownPids=*/true)) {
        fprintf(stderr, "cannot enter the private namespaces: %s\n", error.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
