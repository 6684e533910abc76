// A monitor's report bytes are dumped as lines of eight lower-case hex pairs
// at debug level, and not formatted at all below it; the lines must be the
// same either way they are produced.
#include <gtest/gtest.h>

#include <cstdio>

#include "QavHidDisplay.h"
#include "Sandbox.h"
#include "TestSupport.h"

namespace {

std::vector<std::string> DumpAtLevel(int level, const unsigned char* bytes, int len)
{
    sandbox::ResetSystemFolders();
    sandbox::WriteFile("/etc/pnlmon/log.conf", "IsConsole=1\nLevel=" + std::to_string(level) + "\n");
    sandbox::ChildResult r = sandbox::RunInChild([&]() {
        QavHidDisplay::dumpBytes(bytes, len, "Block");
        QavHidDisplay::dumpBytes(bytes, len, nullptr);
        return 0;
    });
    sandbox::ResetSystemFolders();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return testsupport::Messages(r.err);
}

}  // namespace

TEST(DumpBytes, LinesOfEightWithATrailingPartialLineAndNothingBelowDebug)
{
    unsigned char bytes[11];
    for (int i = 0; i < 11; ++i) {
        bytes[i] = static_cast<unsigned char>(0xf0 + i * 0x1b);
    }
    const std::vector<std::string> dump = {"f0 0b 26 41 5c 77 92 ad ", "c8 e3 fe "};
    std::vector<std::string> expected = {"Block:"};
    expected.insert(expected.end(), dump.begin(), dump.end());
    expected.push_back(":");
    expected.insert(expected.end(), dump.begin(), dump.end());
    EXPECT_EQ(DumpAtLevel(3, bytes, 11), expected);
    EXPECT_EQ(DumpAtLevel(4, bytes, 11), expected);
    EXPECT_TRUE(DumpAtLevel(2, bytes, 11).empty());
    EXPECT_TRUE(DumpAtLevel(0, bytes, 11).empty());
}
