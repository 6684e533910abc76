#include "NamedProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

// Far above any delay on a loaded machine; reached only when something is
// wrong, so the test fails plainly instead of racing.
const std::chrono::seconds kShowLimit(30);

}  // namespace

pid_t NamedProcess::Start(const std::string& program, const std::string& argv0, const std::vector<std::string>& args,
                          const std::string* shown)
{
    // Built before the fork: the child of a process with other threads must
    // not allocate (a lock another thread held at the fork stays locked).
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        close(fds[0]);
        execv(program.c_str(), argv.data());
        int err = errno;
        ssize_t ignored = write(fds[1], &err, sizeof(err));
        (void)ignored;
        _exit(127);
    }
    close(fds[1]);
    // The pipe closes on exec; anything read means the exec failed.
    int err = 0;
    ssize_t got;
    while ((got = read(fds[0], &err, sizeof(err))) < 0 && errno == EINTR) {
    }
    close(fds[0]);
    if (got > 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    if (!WaitUntilShown(pid, shown != nullptr ? *shown : argv0, kShowLimit)) {
        Stop(pid);
        return -1;
    }
    return pid;
}

bool NamedProcess::WaitUntilShown(pid_t pid, const std::string& first, std::chrono::milliseconds limit)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/cmdline";
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Set once it holds anything: every argument ends in a NUL.
        if (!content.empty() && content.compare(0, content.find('\0'), first) == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void NamedProcess::Stop(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}
