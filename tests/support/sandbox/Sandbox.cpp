#include "Sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sandbox {
namespace {

const char kRoot[] = "/mnt";  // the tmpfs holding the overlay layers
bool g_entered = false;

bool Fail(std::string* error, const std::string& what)
{
    if (error != nullptr) {
        *error = what + ": " + strerror(errno);
    }
    return false;
}

bool Overlay(const std::string& target, const std::string& name, std::string* error)
{
    std::string upper = std::string(kRoot) + "/" + name + "-upper";
    std::string work = std::string(kRoot) + "/" + name + "-work";
    if (mkdir(upper.c_str(), 0755) != 0 || mkdir(work.c_str(), 0755) != 0) {
        return Fail(error, "mkdir " + upper);
    }
    std::string options = "lowerdir=" + target + ",upperdir=" + upper + ",workdir=" + work;
    if (mount("overlay", target.c_str(), "overlay", 0, options.c_str()) != 0) {
        return Fail(error, "overlay on " + target);
    }
    return true;
}

void RemoveTree(const std::string& path, bool keepTop)
{
    DIR* dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (struct dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            std::string child = path + "/" + entry->d_name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                RemoveTree(child, false);
            } else {
                unlink(child.c_str());
            }
        }
        closedir(dir);
    }
    if (!keepTop) {
        rmdir(path.c_str());
    }
}

// Makes path an empty folder private to this namespace. Where the machine
// already has one (our package installed), its entries are removed through
// the overlay, which only records whiteouts in the tmpfs: the folder made
// again in its place is opaque, so nothing installed shows through and
// nothing installed is read or written. Should the folder refuse to go (a
// mount point), an empty tmpfs covers it instead.
bool FreshFolder(const std::string& path, std::string* error)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            RemoveTree(path, false);
        } else {
            unlink(path.c_str());
        }
    }
    if (lstat(path.c_str(), &st) != 0) {
        if (mkdir(path.c_str(), 0755) != 0) {
            return Fail(error, "mkdir " + path);
        }
        return true;
    }
    if (!S_ISDIR(st.st_mode) || mount("pnlmon-test", path.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        return Fail(error, "cover the existing " + path);
    }
    return true;
}

std::string Slurp(const std::string& path)
{
    std::string content;
    ReadFile(path, content);
    return content;
}

}  // namespace

bool Enter(std::string* error, bool ownPids)
{
    if (g_entered) {
        return true;
    }
    if (unshare(ownPids ? (CLONE_NEWNS | CLONE_NEWPID) : CLONE_NEWNS) != 0) {
        return Fail(error, "unshare (tests need root)");
    }
    if (ownPids) {
        fflush(stdout);
        fflush(stderr);
        pid_t child = fork();
        if (child < 0) {
            return Fail(error, "fork into the PID namespace");
        }
        if (child > 0) {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Fail(error, "make / private");
    }
    if (ownPids && mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        return Fail(error, "mount /proc");
    }
    if (mount("pnlmon-test", kRoot, "tmpfs", 0, "mode=0755") != 0) {
        return Fail(error, "tmpfs on /mnt");
    }
    if (!Overlay("/etc", "etc", error) || !Overlay("/var/log", "log", error)) {
        return false;
    }
    std::string scratch = std::string(kRoot) + "/scratch";
    if (!FreshFolder("/etc/pnlmon", error) || !FreshFolder("/var/log/pnlmon", error)) {
        return false;
    }
    if (mkdir(scratch.c_str(), 0777) != 0) {
        return Fail(error, "mkdir " + scratch);
    }
    g_entered = true;
    setenv("PNLMON_TEST_SANDBOX", "1", 1);
    return true;
}

bool Entered()
{
    return g_entered;
}

std::string ScratchDir()
{
    return std::string(kRoot) + "/scratch";
}

void ResetSystemFolders()
{
    RemoveTree("/etc/pnlmon", true);
    RemoveTree("/var/log/pnlmon", true);
}

bool WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

bool ReadFile(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return true;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

namespace {

ChildResult Run(const std::function<int()>& body, bool newPidNamespace)
{
    static int serial = 0;
    std::string base = ScratchDir() + "/child." + std::to_string(getpid()) + "." + std::to_string(++serial);
    std::string outPath = base + ".out";
    std::string errPath = base + ".err";
    fflush(stdout);
    fflush(stderr);
    ChildResult result;
    pid_t pid = fork();
    if (pid < 0) {
        result.err = "fork failed";
        return result;
    }
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) {
            _exit(125);
        }
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        if (newPidNamespace) {
            if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) {
                perror("unshare(CLONE_NEWPID)");
                _exit(124);
            }
            pid_t inner = fork();
            if (inner < 0) {
                _exit(123);
            }
            if (inner == 0) {
                // PID 1 of the new namespace: give it its own /proc.
                if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
                    perror("mount /proc");
                    _exit(122);
                }
                int code = body();
                fflush(stdout);
                fflush(stderr);
                _exit(code);
            }
            int status = 0;
            while (waitpid(inner, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status)) {
                _exit(WEXITSTATUS(status));
            }
            _exit(128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0));
        }
        int code = body();
        fflush(stdout);
        fflush(stderr);
        _exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return result;
}

}  // namespace

ChildResult RunInChild(const std::function<int()>& body)
{
    return Run(body, false);
}

ChildResult RunInPidNamespace(const std::function<int()>& body)
{
    return Run(body, true);
}

}  // namespace sandbox
