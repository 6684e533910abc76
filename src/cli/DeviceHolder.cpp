#include "DeviceHolder.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

bool IsNumber(const char* text)
{
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

// A link names the node when it is the node itself, or the node under a
// different root (a chroot or an emulated /dev tree).
bool NamesNode(const std::string& target, const std::string& node)
{
    return target == node ||
           (target.size() > node.size() && target.compare(target.size() - node.size(), node.size(), node) == 0);
}

}  // namespace

DeviceHolder::DeviceHolder(const std::string& procRoot) : procRoot(procRoot) {}

std::string DeviceHolder::NodePath(unsigned bus, unsigned device)
{
    char path[64];
    snprintf(path, sizeof(path), "/dev/bus/usb/%03u/%03u", bus, device);
    return path;
}

bool DeviceHolder::holds(const std::string& pidDir, const std::string& node) const
{
    std::string fdDir = pidDir + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) {
        return false;  // gone meanwhile, or not ours to look at
    }
    bool found = false;
    while (!found) {
        dirent* entry = readdir(fds);
        if (entry == nullptr) {
            break;
        }
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        std::string link = fdDir + "/" + entry->d_name;
        char target[4096];
        ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
        if (length <= 0) {
            continue;
        }
        found = NamesNode(std::string(target, static_cast<size_t>(length)), node);
    }
    closedir(fds);
    return found;
}

bool DeviceHolder::find(unsigned bus, unsigned device, pid_t& pid, std::string& name) const
{
    std::string node = NodePath(bus, device);
    DIR* proc = opendir(procRoot.c_str());
    if (proc == nullptr) {
        return false;
    }
    const pid_t self = getpid();
    bool found = false;
    while (!found) {
        dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        long number = strtol(entry->d_name, nullptr, 10);
        if (number <= 0 || number == self) {
            continue;
        }
        std::string pidDir = procRoot + "/" + entry->d_name;
        if (!holds(pidDir, node)) {
            continue;
        }
        found = true;
        pid = static_cast<pid_t>(number);
        name.clear();
        std::ifstream comm(pidDir + "/comm");
        std::getline(comm, name);
    }
    closedir(proc);
    return found;
}
