#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "engine/VersionStore.h"
#include "platform/OleDate.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace morvane::test {
namespace {

TEST(VersionFolders, NamesAreAllDigitsAndSortNumerically)
{
    EXPECT_TRUE(IsVersionFolderName("001"));
    EXPECT_TRUE(IsVersionFolderName("1000"));
    for (const char* name : {"", "12a", "-1", "1 ", "+1", "0x1"})
        EXPECT_FALSE(IsVersionFolderName(name)) << name;
    EXPECT_TRUE(VersionNameLess("999", "1000"));
    EXPECT_FALSE(VersionNameLess("1000", "999"));
    EXPECT_TRUE(VersionNameLess("042", "100"));
}

TEST(VersionFolders, AreListedInNumericOrderWhateverTheDirectoryOrder)
{
    TestEnv env;
    const std::string base = env.Work() + "item/";
    std::vector<std::string> names{"001", "099", "999", "1000", "10000", "1001"};
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    for (const auto& name : names)
        std::filesystem::create_directories(base + name);
    WriteFile(base + "1002", "a file, not a version folder");
    std::vector<std::string> listed;
    for (const auto& v : ListStoredFolders(base))
        listed.push_back(v.Name);
    EXPECT_EQ(listed, (std::vector<std::string>{"001", "099", "999", "1000", "1001", "10000"}));
    EXPECT_EQ(HighestVersionNumber(base), 10000);
}

TEST(VersionFolders, TheNextFolderMovesPastEverythingThatExists)
{
    TestEnv env;
    const std::string base = env.Work() + "b/item/";
    auto first = CreateNextVersionFolder(base, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Number, 1);
    EXPECT_EQ(first->Path, base + "001");
    WriteFile(base + "002", "in the way");
    auto second = CreateNextVersionFolder(base, 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Number, 3);
    auto past = CreateNextVersionFolder(base, 998);
    ASSERT_TRUE(past);
    EXPECT_EQ(past->Path, base + "999");
    EXPECT_EQ(CreateNextVersionFolder(base, 0)->Path, base + "1000");

    WriteFile(env.Work() + "blocked", "a file where the folder would go");
    EXPECT_FALSE(CreateNextVersionFolder(env.Work() + "blocked/item/", 0));
}

struct FileNameCase
{
    const char* Name;
    TNameMode Mode;
    int Count;
    int Hour, Minute, Second;
    const char* Expected;
};
void PrintTo(const FileNameCase& c, std::ostream* os)
{
    *os << c.Expected;
}
class VersionFileNameTest : public ::testing::TestWithParam<FileNameCase>
{
};

TEST_P(VersionFileNameTest, NamesFollowTheMode)
{
    const auto& c = GetParam();
    const double date = EncodeOleDate(2026, 12, 8, c.Hour, c.Minute, c.Second);
    EXPECT_EQ(VersionFileName(c.Name, c.Mode, c.Count, date), c.Expected);
}
INSTANTIATE_TEST_SUITE_P(
    Modes, VersionFileNameTest,
    ::testing::Values(FileNameCase{"report.doc", nmOriginal, 3, 14, 5, 9, "report.doc"},
                      FileNameCase{"report.doc", nmDateTime, 3, 14, 5, 9, "report(26-12-08 14-05-09).doc"},
                      FileNameCase{"a.txt", nmDateTime, 3, 0, 0, 0, "a(26-12-08).txt"},
                      FileNameCase{"a.txt", nmDateTime, 3, 0, 0, 1, "a(26-12-08 00-00-01).txt"},
                      FileNameCase{"report.doc", nmVersionNumber, 7, 1, 0, 0, "report(v 7).doc"},
                      FileNameCase{"Makefile", nmVersionNumber, 1, 1, 0, 0, "(v 1)Makefile"},
                      FileNameCase{".bashrc", nmVersionNumber, 2, 1, 0, 0, "(v 2).bashrc"},
                      FileNameCase{"x.y", static_cast<TNameMode>(9), 2, 1, 0, 0, "x.y"}),
    test::RowNamesBy(&FileNameCase::Expected));

} // namespace
} // namespace morvane::test
