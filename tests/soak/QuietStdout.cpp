#include "QuietStdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

QuietStdout::QuietStdout()
{
    fflush(stdout);
    saved_ = dup(1);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    close(null);
}

QuietStdout::~QuietStdout()
{
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
}
