// The sandbox of the test binaries: fresh, private system folders that
// behave like ordinary ones, and a PID namespace in which the binary sees
// only its own processes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Sandbox.h"

namespace {

std::vector<std::string> Entries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    return names;
}

}  // namespace

TEST(Sandbox, SystemFoldersAreEmptyPlainFolders)
{
    ASSERT_TRUE(sandbox::Entered());
    for (const std::string folder : {"/etc/pnlmon", "/var/log/pnlmon"}) {
        SCOPED_TRACE(folder);
        EXPECT_TRUE(Entries(folder).empty());
        ASSERT_TRUE(sandbox::WriteFile(folder + "/probe", "x"));
        sandbox::ResetSystemFolders();
        EXPECT_TRUE(Entries(folder).empty());
        // Tests remove and recreate them: no mount point may be in the way.
        ASSERT_EQ(rmdir(folder.c_str()), 0) << strerror(errno);
        EXPECT_FALSE(sandbox::Exists(folder));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0) << strerror(errno);
    }
}

TEST(Sandbox, OnlyItsOwnProcessesAreVisible)
{
    EXPECT_EQ(getpid(), 1);
    std::vector<std::string> processes;
    for (const std::string& name : Entries("/proc")) {
        if (name.find_first_not_of("0123456789") == std::string::npos) {
            processes.push_back(name);
        }
    }
    EXPECT_EQ(processes, std::vector<std::string>{"1"});
}
