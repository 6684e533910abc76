#include "Preload.h"

#include <fcntl.h>
#include <link.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define PNLMON_USBEMU_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PNLMON_USBEMU_TSAN 1
#endif
#endif

namespace usbemu {
namespace {

const char kUmockdevPreload[] = "libumockdev-preload.so.0";
const char kReexecMarker[] = "PNLMON_USBEMU_REEXEC";

std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> items;
    std::string item;
    for (char c : list) {
        if (c == ':' || c == ' ') {
            if (!item.empty()) {
                items.push_back(item);
            }
            item.clear();
        } else {
            item += c;
        }
    }
    if (!item.empty()) {
        items.push_back(item);
    }
    return items;
}

bool IsFile(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string BaseName(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int FindSanitizer(struct dl_phdr_info* info, size_t, void* data)
{
    const char* name = info->dlpi_name;
    if (name == nullptr || *name == '\0') {
        return 0;
    }
    std::string base = BaseName(name);
    if (base.rfind("libasan.so", 0) == 0 || base.rfind("libtsan.so", 0) == 0 ||
        base.rfind("libclang_rt.asan", 0) == 0 || base.rfind("libclang_rt.tsan", 0) == 0) {
        *static_cast<std::string*>(data) = name;
        return 1;
    }
    return 0;
}

void SetEmulatorEnvironment()
{
    // GLib's slice allocator hides umockdev's allocations from the sanitizers.
    setenv("G_SLICE", "always-malloc", 0);
#if defined(PNLMON_USBEMU_TSAN) && defined(PNLMON_USBEMU_TSAN_SUPPRESSIONS)
    const char* current = getenv("TSAN_OPTIONS");
    std::string options = current != nullptr ? current : "";
    if (options.find("suppressions=") == std::string::npos) {
        if (!options.empty()) {
            options += ' ';
        }
        options += "suppressions=" PNLMON_USBEMU_TSAN_SUPPRESSIONS;
        setenv("TSAN_OPTIONS", options.c_str(), 1);
    }
#endif
}

}  // namespace

bool DeepenUeventQueues(int depth, std::string* error)
{
    if (unshare(CLONE_NEWNET) != 0) {
        *error = std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
        return false;
    }
    const char path[] = "/proc/sys/net/unix/max_dgram_qlen";
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("open ") + path + ": " + strerror(errno);
        return false;
    }
    std::string value = std::to_string(depth) + "\n";
    bool written = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    int saved = errno;
    close(fd);
    if (!written) {
        *error = std::string("write ") + path + ": " + strerror(saved);
        return false;
    }
    return true;
}

bool PreloadActive()
{
    const char* preload = getenv("LD_PRELOAD");
    return preload != nullptr && strstr(preload, "libumockdev-preload") != nullptr;
}

std::string SharedSanitizerRuntime()
{
    std::string path;
    dl_iterate_phdr(FindSanitizer, &path);
    return path;
}

std::string NlFixLibrary()
{
    const char* configured = getenv("PNLMON_NLFIX");
    if (configured != nullptr && IsFile(configured)) {
        return configured;
    }
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        std::string exe(self);
        std::string folder = exe.substr(0, exe.rfind('/') + 1);
        // An installed program: the private library folder of its installation.
        std::string installed = folder + PNLMON_NLFIX_FROM_BINDIR;
        if (IsFile(installed)) {
            return installed;
        }
        // Beside the program: the build tree links it there.
        std::string beside = folder + "libpnlmon_nlfix.so";
        if (IsFile(beside)) {
            return beside;
        }
    }
    return std::string();
}

std::string PreloadList(bool withNlFix, const std::string& existing)
{
    std::vector<std::string> items;
    std::string sanitizer = SharedSanitizerRuntime();
    if (!sanitizer.empty()) {
        items.push_back(sanitizer);  // a shared sanitizer runtime must be loaded first
    }
    if (withNlFix) {
        std::string nlfix = NlFixLibrary();
        if (!nlfix.empty()) {
            items.push_back(nlfix);  // before the umockdev preload, whose bind() it wraps
        }
    }
    items.push_back(kUmockdevPreload);
    for (const std::string& item : SplitList(existing)) {
        bool known = false;
        for (const std::string& listed : items) {
            known = known || listed == item || BaseName(listed) == BaseName(item);
        }
        if (!known) {
            items.push_back(item);
        }
    }
    std::string list;
    for (const std::string& item : items) {
        list += (list.empty() ? "" : ":") + item;
    }
    return list;
}

void EnsurePreload(int argc, char** argv)
{
    (void)argc;
    if (PreloadActive()) {
        SetEmulatorEnvironment();
        return;
    }
    if (getenv(kReexecMarker) != nullptr) {
        fprintf(stderr, "usbemu: still not under %s after re-executing; giving up\n", kUmockdevPreload);
        exit(2);
    }
    const char* existing = getenv("LD_PRELOAD");
    std::string list = PreloadList(true, existing != nullptr ? existing : "");
    setenv("LD_PRELOAD", list.c_str(), 1);
    setenv(kReexecMarker, "1", 1);
    SetEmulatorEnvironment();
    fflush(stdout);
    fflush(stderr);
    execv("/proc/self/exe", argv);
    fprintf(stderr, "usbemu: cannot re-execute under %s: %s\n", kUmockdevPreload, strerror(errno));
    exit(2);
}

}  // namespace usbemu
