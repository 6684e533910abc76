#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "KeyValueFile.h"

namespace {

std::vector<std::pair<std::string, std::string>> Parse(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    KeyValueFile::ReadStream(stream, [&](const std::string& key, const std::string& value) {
        pairs.emplace_back(key, value);
    });
    fclose(stream);
    return pairs;
}

typedef std::vector<std::pair<std::string, std::string>> Pairs;

TEST(KeyValueFile, SplitsAtTheFirstEqualsSignAndTakesTheKeyExactly)
{
    EXPECT_EQ(Parse("Level=3\nKey = v\nA=b=c\n#Level=1\n"),
              (Pairs{{"Level", "3"}, {"Key ", " v"}, {"A", "b=c"}, {"#Level", "1"}}));
}

TEST(KeyValueFile, SkipsLinesWithoutKey)
{
    EXPECT_EQ(Parse("no equals sign\n=value\n\nKey=\n"), (Pairs{{"Key", ""}}));
}

TEST(KeyValueFile, KeepsCarriageReturnOfDosLines)
{
    EXPECT_EQ(Parse("FileName=/x.log\r\n"), (Pairs{{"FileName", "/x.log\r"}}));
}

TEST(KeyValueFile, KeepsTheLastCharacterOfAnUnterminatedLastLine)
{
    EXPECT_EQ(Parse("A=1\nFileName=/var/log/a.log"), (Pairs{{"A", "1"}, {"FileName", "/var/log/a.log"}}));
    EXPECT_EQ(Parse("A="), (Pairs{{"A", ""}}));
}

TEST(KeyValueFile, ReadsVeryLongLinesWhole)
{
    std::string value(1 << 20, 'x');
    Pairs pairs = Parse("Long=" + value + "\nNext=1\n");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].second.size(), value.size());
    EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"Next", "1"}));
}

TEST(KeyValueFile, SurvivesBinaryGarbage)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage.push_back(static_cast<char>((i * 131 + 7) & 0xff));
    }
    garbage += std::string("\0K=v\n", 5);
    Pairs pairs = Parse(garbage);
    EXPECT_FALSE(pairs.empty());
}

TEST(KeyValueFile, ReportsAMissingFile)
{
    EXPECT_FALSE(KeyValueFile::ReadFile("/nonexistent/pnlmon.conf", [](const std::string&, const std::string&) {}));
}

}  // namespace
