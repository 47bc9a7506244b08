#include "support/KitSysUtils.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

using namespace morvane;

namespace {

TEST(TextRoutines, ForwardAndBackwardSearchHonourTheirBounds)
{
    EXPECT_EQ(PosFrom("ab", "xxabab", 4), 5u);
    EXPECT_EQ(PosFrom("ab", "xxabab", 6), 0u);
    EXPECT_EQ(PosFrom("ab", "xxabab", 0), 3u);
    EXPECT_EQ(PosFrom("abc", "ab", 1), 0u);
    EXPECT_EQ(BackPos("ab", "abxab"), 4u);
    EXPECT_EQ(BackPosFrom("ab", "abxab", 4), 1u);
    EXPECT_EQ(BackPosFrom("ab", "abxab", 1), 0u);
    EXPECT_EQ(BackPosFrom("ab", "", 3), 0u);
}

using ReplaceCase = std::tuple<std::string, std::string, std::string, std::string>;
class ReplaceAllTest : public ::testing::TestWithParam<ReplaceCase>
{
};

TEST_P(ReplaceAllTest, NeverRevisitsInsertedText)
{
    auto [input, oldText, newText, expected] = GetParam();
    ReplaceAll(input, oldText, newText);
    EXPECT_EQ(input, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplaceAllTest,
                         ::testing::Values(ReplaceCase{"aa", "a", "aa", "aaaa"},
                                           ReplaceCase{"aaa", "a", "", ""},
                                           ReplaceCase{"abc", "", "q", "abc"},
                                           ReplaceCase{"a////b", "//", "/", "a//b"}),
                         test::ValueRowName());

TEST(TextRoutines, SplitToLinesAppendsAtSeparatorsAndLineBreaks)
{
    std::vector<std::string> lines{"kept"};
    SplitToLines("a\x07"
                 "b\x07\x07"
                 "c",
                 "\x07", lines);
    SplitToLines("one<>two\r\nthree\rfour\n", "<>", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"kept", "a", "b", "", "c", "one", "two", "three", "four"}));
}

using ComposeCase = std::tuple<std::string, std::string, std::string>;
class ComposeDestNameTest : public ::testing::TestWithParam<ComposeCase>
{
};

TEST_P(ComposeDestNameTest, TakesEachPartFromTargetOrSource)
{
    auto [source, target, expected] = GetParam();
    EXPECT_EQ(ComposeDestName(source, target), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ComposeDestNameTest,
                         ::testing::Values(ComposeCase{"/s/a.txt", "  \t", "/s/a.txt"},
                                           ComposeCase{"/s/a.txt", "/t/", "/t/a.txt"},
                                           ComposeCase{"/s/a.txt", "/t/*.bak", "/t/a.bak"},
                                           ComposeCase{"/s/a.txt", "b.md", "/s/b.md"},
                                           ComposeCase{"/s/a.txt", "/t/c.*", "/t/c.txt"},
                                           // A leading point starts a name, not an extension.
                                           ComposeCase{"/s/a.txt", "/t/.hidden", "/t/.hidden.txt"}),
                         test::ValueRowName());

TEST(PathRoutines, PartsAndAbsolutePaths)
{
    EXPECT_EQ(ExtractNamePart("dir/file.txt"), "file.txt");
    EXPECT_EQ(ExtractFolderPart("/a/b/c.tar.gz"), "/a/b/");
    EXPECT_EQ(ExtractNameNoExt("/a/b/c.tar.gz"), "c.tar");
    EXPECT_EQ(ExtractNameNoExt("/x.d/noext"), "noext");
    EXPECT_EQ(MakeAbsolutePath("/base", "/abs/x"), "/abs/x");
    EXPECT_EQ(MakeAbsolutePath("/base/", "rel//x"), "/base/rel/x");
}

TEST(PathRoutines, CanCreateFileLeavesNothingBehindAndNeverTouchesExisting)
{
    test::TestEnv env;
    const std::string fresh = env.Work() + "fresh.txt";
    EXPECT_TRUE(CanCreateFile(fresh));
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const std::string existing = env.Work() + "existing.txt";
    test::WriteFile(existing, "keep");
    EXPECT_TRUE(CanCreateFile(existing));
    EXPECT_EQ(test::ReadFile(existing), "keep");
    EXPECT_FALSE(CanCreateFile(""));
    EXPECT_FALSE(CanCreateFile(env.Work() + "missing/x.txt"));
}

} // namespace
