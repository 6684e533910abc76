// pnlmon-cimhost: see CimHostTool.h. Results go to the real standard
// output; file descriptor 1 is pointed at standard error while the provider
// runs, so that what loaded libraries print stays out of the results.
#include "CimHostTool.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    std::fflush(stdout);
    int resultFd = dup(STDOUT_FILENO);
    FILE* results = resultFd >= 0 ? fdopen(resultFd, "w") : nullptr;
    if (results == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("pnlmon-cimhost: standard output");
        return 2;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    int rc;
    {
        CimHostTool tool(results, stderr);
        rc = tool.run(args);
    }
    std::fclose(results);
    return rc;
}
