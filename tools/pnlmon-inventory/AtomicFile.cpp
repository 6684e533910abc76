#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

bool AtomicFile::Write(const std::string& path, const std::string& content, mode_t mode, std::string& error)
{
    if (path.empty() || path.back() == '/') {
        error = "'" + path + "' is not a file name";
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = (folder == "/" ? "" : folder) + "/." + name + ".XXXXXX";
    std::vector<char> buffer(temp.begin(), temp.end());
    buffer.push_back('\0');
    int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a temporary file in " + folder + ": " + strerror(errno);
        return false;
    }
    temp = buffer.data();
    const char* failed = nullptr;
    size_t done = 0;
    while (failed == nullptr && done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failed = "cannot write";
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (failed == nullptr && fchmod(fd, mode) != 0) {
        failed = "cannot set the mode of";
    }
    if (failed == nullptr && fsync(fd) != 0) {
        failed = "cannot flush";
    }
    int savedErrno = errno;
    if (close(fd) != 0 && failed == nullptr) {
        failed = "cannot close";
        savedErrno = errno;
    }
    if (failed == nullptr && rename(temp.c_str(), path.c_str()) != 0) {
        savedErrno = errno;
        error = "cannot replace " + path + ": " + strerror(savedErrno);
        unlink(temp.c_str());
        return false;
    }
    if (failed != nullptr) {
        error = std::string(failed) + " " + temp + ": " + strerror(savedErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}
