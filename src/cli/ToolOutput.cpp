#include "ToolOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ToolOutput::~ToolOutput()
{
    finish();
}

bool ToolOutput::divert(bool libraryLinesToStderr, std::string& error)
{
    fflush(stdout);
    int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        error = std::string("cannot duplicate standard output: ") + strerror(errno);
        return false;
    }
    FILE* stream = fdopen(fd, "w");
    if (stream == nullptr) {
        error = std::string("cannot open standard output: ") + strerror(errno);
        close(fd);
        return false;
    }
    int target = STDERR_FILENO;
    int nullFd = -1;
    if (!libraryLinesToStderr) {
        nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (nullFd < 0) {
            error = std::string("cannot open /dev/null: ") + strerror(errno);
            fclose(stream);
            return false;
        }
        target = nullFd;
    }
    if (dup2(target, STDOUT_FILENO) < 0) {
        error = std::string("cannot redirect standard output: ") + strerror(errno);
        if (nullFd >= 0) {
            close(nullFd);
        }
        fclose(stream);
        return false;
    }
    if (nullFd >= 0) {
        close(nullFd);
    }
    results = stream;
    return true;
}

bool ToolOutput::finish()
{
    if (results == nullptr) {
        return fflush(stdout) == 0 && !ferror(stdout);
    }
    bool ok = fflush(results) == 0 && !ferror(results);
    ok = fclose(results) == 0 && ok;
    results = nullptr;
    return ok;
}
