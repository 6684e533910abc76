// A library unloaded and loaded again (as a CIMOM does with an idle
// provider) must not keep its earlier log file open: each load has a logger
// of its own, and each unload has to close that logger's file.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "Sandbox.h"
#include "log.h"

namespace {

int OpenFilesNamed(const std::string& path)
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* entry = readdir(dir)) {
        char target[512] = {0};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && path == target) {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

TEST(LibraryReload, EachUnloadClosesTheLogFile)
{
    const std::string log = sandbox::ScratchDir() + "/reload.log";
    ASSERT_TRUE(sandbox::WriteFile("/etc/pnlmon/log.conf", "FileName=" + log + "\nLevel=4\n"));
    for (int load = 0; load < 3; ++load) {
        SCOPED_TRACE("load " + std::to_string(load));
        void* handle = dlopen(PNLMON_PROVIDER_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        // The provider library exports LogQuick(LOG_LEVEL, const char*).
        auto logQuick = reinterpret_cast<decltype(&LogQuick)>(dlsym(handle, "_Z8LogQuick9LOG_LEVELPKc"));
        ASSERT_NE(logQuick, nullptr);
        logQuick(LEVEL_ERROR, "LibraryReload - a line");
        EXPECT_EQ(OpenFilesNamed(log), 1);
        ASSERT_EQ(dlclose(handle), 0);
        // Really unloaded, so that the next load starts a logger of its own.
        ASSERT_EQ(dlopen(PNLMON_PROVIDER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
        EXPECT_EQ(OpenFilesNamed(log), 0);
    }
    unlink(log.c_str());
}

}  // namespace
