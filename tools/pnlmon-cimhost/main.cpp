// pnlmon-cimhost: see CimHostTool.h. Results go to the real standard
// output; file descriptor 1 points at /dev/null (or, at the most detailed
// verbosity, at standard error) while the provider runs, so that what loaded
// libraries print stays out of the results.
#include "CimHostTool.h"
#include "ToolOutput.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    CimHostTool tool(stdout, stderr);
    int rc = tool.parseArguments(args);
    if (rc != CommandLine::kContinue) {
        return rc;
    }
    ToolOutput output;
    std::string error;
    if (!output.divert(tool.verbosity() >= 4, error)) {
        std::fprintf(stderr, "pnlmon-cimhost: %s\n", error.c_str());
        return CimHostTool::kExitLoad;
    }
    tool.setOutput(output.out());
    rc = tool.execute();
    if (!output.finish()) {
        std::perror("pnlmon-cimhost: standard output");
    }
    return rc;
}
