#include "SideProcesses.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

constexpr int kHoldStartMs = 5000;
constexpr int kReleaseMs = 3000;

int ExitCode(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool IsFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Printable(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string SideProcesses::HoldProgram()
{
    const char* configured = getenv("PNLMON_SIM_HOLD");
    if (configured != nullptr && IsFile(configured)) {
        return configured;
    }
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return std::string();
    }
    self[length] = '\0';
    std::string exe(self);
    std::string folder = exe.substr(0, exe.rfind('/') + 1);
    for (const std::string& candidate : {folder + PNLMON_SIM_HOLD_FROM_BINDIR, folder + "pnlmon-sim-hold"}) {
        if (IsFile(candidate)) {
            return candidate;
        }
    }
    return std::string();
}

pid_t SideProcesses::start(const std::vector<std::string>& command, int outFd, std::string& error)
{
    // Everything the child needs is prepared before the fork: after it, only
    // system calls (other threads may hold locks of this process).
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (strncmp(*entry, "TMPDIR=", 7) != 0) {
            environment.emplace_back(*entry);
        }
    }
    if (!childTmpdir.empty()) {
        environment.push_back("TMPDIR=" + childTmpdir);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    // execvpe searches PATH without allocating in glibc; a path with '/' is
    // used as it is.
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0) {
        error = std::string("/dev/null: ") + strerror(errno);
        return -1;
    }
    std::string failure = "pnlmon-sim: cannot run " + command[0] + "\n";
    sigset_t none;
    sigemptyset(&none);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(null, 0);
        if (outFd >= 0) {
            dup2(outFd, 1);
        }
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        ssize_t ignored = write(2, failure.data(), failure.size());
        (void)ignored;
        _exit(127);
    }
    close(null);
    if (pid < 0) {
        error = std::string("fork: ") + strerror(errno);
    }
    return pid;
}

pid_t SideProcesses::run(const std::vector<std::string>& command, std::string& error)
{
    if (command.empty()) {
        error = "run needs a command";
        return -1;
    }
    pid_t pid = start(command, -1, error);
    if (pid > 0) {
        running.push_back({pid, "run " + command[0] + " (pid " + std::to_string(pid) + ")", ""});
    }
    return pid;
}

pid_t SideProcesses::hold(const std::string& monitor, int address, double seconds, const std::string& comm,
                          std::string& error)
{
    std::string program = HoldProgram();
    if (program.empty()) {
        error = "pnlmon-sim-hold is not installed beside pnlmon-sim";
        return -1;
    }
    char duration[32];
    snprintf(duration, sizeof duration, "%g", seconds);
    std::vector<std::string> command{program, "--seconds", duration};
    if (!comm.empty()) {
        command.push_back("--name");
        command.push_back(comm);
    }
    command.push_back("1");
    command.push_back(std::to_string(address));
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return -1;
    }
    pid_t pid = start(command, out[1], error);
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return -1;
    }
    // Its "held ..." line, or the end of its output when it gives up.
    std::string said;
    pollfd wait{out[0], POLLIN, 0};
    char c = 0;
    while (said.size() < 256 && poll(&wait, 1, kHoldStartMs) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        said.push_back(c);
    }
    close(out[0]);
    std::string label = "hold of " + monitor + " (pid " + std::to_string(pid) + ")";
    if (said.rfind("held ", 0) != 0) {
        kill(pid, SIGKILL);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error = label + " did not start (exit status " + std::to_string(ExitCode(status)) + ")";
        return -1;
    }
    running.push_back({pid, label, monitor});
    return pid;
}

bool SideProcesses::release(const std::string& monitor)
{
    bool found = false;
    for (auto it = running.begin(); it != running.end();) {
        if (it->monitor != monitor) {
            ++it;
            continue;
        }
        found = true;
        // Waits for the release itself, so that what comes next finds the
        // monitor free.
        kill(it->pid, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int waited = 0; waited < kReleaseMs && (done = waitpid(it->pid, &status, WNOHANG)) == 0; waited += 10) {
            usleep(10 * 1000);
        }
        if (done == it->pid) {
            endedEarly.push_back({it->label, ExitCode(status)});
            it = running.erase(it);
        } else {
            ++it;  // reaped later
        }
    }
    return found;
}

std::vector<SideProcesses::Ended> SideProcesses::reap()
{
    std::vector<Ended> ended = std::move(endedEarly);
    endedEarly.clear();
    for (auto it = running.begin(); it != running.end();) {
        int status = 0;
        if (waitpid(it->pid, &status, WNOHANG) == it->pid) {
            ended.push_back({Printable(it->label), ExitCode(status)});
            it = running.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

void SideProcesses::stopAll(int graceMs)
{
    for (const Process& process : running) {
        kill(process.pid, SIGTERM);
    }
    for (int waited = 0; waited < graceMs && !running.empty(); waited += 10) {
        reap();
        if (!running.empty()) {
            usleep(10 * 1000);
        }
    }
    for (const Process& process : running) {
        kill(process.pid, SIGKILL);
        int status = 0;
        while (waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    running.clear();
}
