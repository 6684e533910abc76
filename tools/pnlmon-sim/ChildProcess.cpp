#include "ChildProcess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ReadAll(int fd, std::string& text)
{
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int ExitCode(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

[[noreturn]] void RunChild(const std::vector<std::string>& command, int wait, pid_t parent, bool detachStdin,
                           const std::string& keepTmpdir)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    // The go message: "run <UMOCKDEV_DIR>", or nothing when cancelled.
    std::string message;
    if (!ReadAll(wait, message) || message.rfind("run ", 0) != 0) {
        _exit(127);
    }
    close(wait);
    setenv("UMOCKDEV_DIR", message.substr(4).c_str(), 1);
    if (keepTmpdir.empty()) {
        unsetenv("TMPDIR");
    } else {
        setenv("TMPDIR", keepTmpdir.c_str(), 1);
    }
    if (detachStdin) {
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) {
            dup2(null, 0);
            close(null);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    fprintf(stderr, "pnlmon-sim: cannot run %s: %s\n", argv[0], strerror(errno));
    _exit(127);
}

}  // namespace

bool ChildProcess::fork(const std::vector<std::string>& command, bool detachStdin, const std::string& keepTmpdir,
                        std::string& error)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    pid_t parent = getpid();
    fflush(stdout);
    fflush(stderr);
    child = ::fork();
    if (child < 0) {
        error = std::string("fork: ") + strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        close(pipeFds[1]);
        RunChild(command, pipeFds[0], parent, detachStdin, keepTmpdir);
    }
    close(pipeFds[0]);
    go = pipeFds[1];
    return true;
}

bool ChildProcess::release(const std::string& umockdevDir)
{
    if (go < 0) {
        return false;
    }
    std::string message = "run " + umockdevDir;
    bool ok = write(go, message.data(), message.size()) == static_cast<ssize_t>(message.size());
    close(go);
    go = -1;
    return ok;
}

void ChildProcess::cancel()
{
    if (go >= 0) {
        close(go);
        go = -1;
    }
}

bool ChildProcess::reap(int& status)
{
    if (child <= 0) {
        return false;
    }
    int raw = 0;
    pid_t done = waitpid(child, &raw, WNOHANG);
    if (done != child) {
        return false;
    }
    child = -1;
    status = ExitCode(raw);
    return true;
}

int ChildProcess::stop(int graceMs)
{
    cancel();
    if (child <= 0) {
        return 0;
    }
    kill(child, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (reap(status)) {
            return status;
        }
        usleep(10 * 1000);
    }
    kill(child, SIGKILL);
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    child = -1;
    return ExitCode(raw);
}
