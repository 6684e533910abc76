// The driver's configuration: the fuzzed bytes are "/etc/pnlmon/pnlmon.conf"
// (inside a private mount namespace, on a tmpfs overlay, so the machine's
// folder is never touched), read by a fresh Config as the driver does at
// start, and the two settings are checked against a plain reading.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Config.h"
#include "FuzzLogging.h"
#include "Sandbox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Processes libFuzzer starts itself (-merge, -fork, -jobs) inherit the
    // namespace of the one that entered it (which marks its environment).
    std::string error;
    if (getenv("PNLMON_TEST_SANDBOX") == nullptr && !sandbox::Enter(&error)) {
        fprintf(stderr, "fuzz_config: cannot enter the private mount namespace: %s\n", error.c_str());
        exit(1);
    }
    FuzzLoggingToNowhere();
    return 0;
}

namespace {

bool WriteConfig(const uint8_t* data, size_t size)
{
    int fd = open(PNLMON_CONFIG_FILE, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = write(fd, data + done, size - done);
        if (wrote <= 0) {
            close(fd);
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return close(fd) == 0;
}

// The last non-empty value of a key wins; without one the default stays.
std::string Expected(const uint8_t* data, size_t size, const std::string& key, const char* fallback)
{
    std::string result = fallback;
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && text[end] != '\n') {
            ++end;
        }
        std::string line(text + start, end - start);
        if (line.size() > key.size() + 1 && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=') {
            result = line.substr(key.size() + 1);
        }
        start = end + 1;
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!WriteConfig(data, size)) {
        fprintf(stderr, "fuzz_config: cannot write %s\n", PNLMON_CONFIG_FILE);
        abort();
    }
    Config* config = Config::getInstance();
    std::string lockFile, utilityNames;
    config->getMusLockFile(lockFile);
    config->getFlashUtilityNames(utilityNames);
    Config::destroyInstance();

    if (lockFile != Expected(data, size, "MusLockFile", MUS_LOCK_FILE) ||
        utilityNames != Expected(data, size, "FlashUtilityNames", DEF_FLASH_UTILITY_NAMES)) {
        __builtin_trap();
    }
    return 0;
}
