#include "support/KitSysUtils.h"

#include "common/TestSupport.h"
#include "support/TkitComponent.h"
#include "support/TkitCustomTimer.h"

#include <QMetaObject>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

using namespace morvane;

namespace {

struct PosCase
{
    const char* sub;
    const char* s;
    std::size_t from;
    std::size_t expected;
};

class PosFromTest : public ::testing::TestWithParam<PosCase>
{
};

TEST_P(PosFromTest, FindsFirstOccurrenceAtOrAfterStart)
{
    const PosCase& c = GetParam();
    EXPECT_EQ(PosFrom(c.sub, c.s, c.from), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PosFromTest,
                         ::testing::Values(PosCase{"ab", "xxabab", 4, 5}, PosCase{"ab", "xxabab", 6, 0},
                                           PosCase{"ab", "xxabab", 0, 3}, PosCase{"ab", "xxabab", 99, 0},
                                           PosCase{"", "abc", 1, 0}, PosCase{"abc", "ab", 1, 0},
                                           PosCase{"a", "", 1, 0}));

class BackPosFromTest : public ::testing::TestWithParam<PosCase>
{
};

TEST_P(BackPosFromTest, FindsRightmostOccurrenceStartingInRange)
{
    const PosCase& c = GetParam();
    EXPECT_EQ(BackPosFrom(c.sub, c.s, c.from), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, BackPosFromTest,
                         ::testing::Values(PosCase{"ab", "abxab", 5, 4}, PosCase{"ab", "abxab", 4, 1},
                                           PosCase{"ab", "abxab", 1, 0}, PosCase{"ab", "abxab", 100, 4},
                                           PosCase{"ab", "", 3, 0}, PosCase{"abc", "ab", 3, 0}));

TEST(TextRoutines, BackPosSearchesWholeString)
{
    EXPECT_EQ(BackPos("ab", "abxab"), 4u);
    EXPECT_EQ(BackPos("zz", "abxab"), 0u);
}

using ReplaceCase = std::tuple<std::string, std::string, std::string, std::string>;
class ReplaceAllTest : public ::testing::TestWithParam<ReplaceCase>
{
};

TEST_P(ReplaceAllTest, ReplacesWithoutRevisitingInsertedText)
{
    auto [input, oldText, newText, expected] = GetParam();
    std::string s = input;
    ReplaceAll(s, oldText, newText);
    EXPECT_EQ(s, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplaceAllTest,
                         ::testing::Values(ReplaceCase{"aa", "a", "aa", "aaaa"},
                                           ReplaceCase{"aaa", "a", "", ""},
                                           ReplaceCase{"x.y.z", ".", "::", "x::y::z"},
                                           ReplaceCase{"abc", "", "q", "abc"},
                                           ReplaceCase{"abab", "ab", "b", "bb"}));

TEST(TextRoutines, ReplaceAtDeletesThenInserts)
{
    std::string s = "hello world";
    ReplaceAt(s, 7, "world", "there");
    EXPECT_EQ(s, "hello there");
    s = "abc";
    ReplaceAt(s, 10, "x", "d"); // beyond the end: nothing deleted, text appended
    EXPECT_EQ(s, "abcd");
    s = "abc";
    ReplaceAt(s, 2, "bcdef", "");
    EXPECT_EQ(s, "a");
}

TEST(TextRoutines, SplitToLinesAppendsAndHonoursLineBreaks)
{
    std::vector<std::string> lines{"kept"};
    SplitToLines("a\x07"
                 "b\x07\x07"
                 "c",
                 "\x07", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"kept", "a", "b", "", "c"}));

    lines.clear();
    SplitToLines("one<>two\r\nthree\rfour\n", "<>", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}));

    lines.clear();
    SplitToLines("", ";", lines);
    EXPECT_TRUE(lines.empty());
}

using PathCase = std::tuple<std::string, std::string, std::string, std::string>; // path, name, folder, base
class PathPartsTest : public ::testing::TestWithParam<PathCase>
{
};

TEST_P(PathPartsTest, SplitsAtLastSeparator)
{
    auto [path, name, folder, base] = GetParam();
    EXPECT_EQ(ExtractNamePart(path), name);
    EXPECT_EQ(ExtractFolderPart(path), folder);
    EXPECT_EQ(ExtractNameNoExt(path), base);
}

INSTANTIATE_TEST_SUITE_P(Table, PathPartsTest,
                         ::testing::Values(PathCase{"dir/file.txt", "file.txt", "dir/", "file"},
                                           PathCase{"/a/b/c.tar.gz", "c.tar.gz", "/a/b/", "c.tar"},
                                           PathCase{"plain", "plain", "", "plain"},
                                           PathCase{"/x/.profile", ".profile", "/x/", ".profile"},
                                           PathCase{"/x.d/noext", "noext", "/x.d/", "noext"},
                                           PathCase{"/folder/", "", "/folder/", ""}));

TEST(PathRoutines, CollapseHalvesRunsRoundingUp)
{
    EXPECT_EQ(CollapseBackslashes("a//b"), "a/b");
    EXPECT_EQ(CollapseBackslashes("a////b"), "a//b");
    EXPECT_EQ(CollapseBackslashes("a///b"), "a//b");
    EXPECT_EQ(AddBackslash("/a"), "/a/");
    EXPECT_EQ(AddBackslash("/a/"), "/a/");
    EXPECT_EQ(AddBackslash(""), "");
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
                                           ComposeCase{"/s/a.txt", "/t/b", "/t/b.txt"},
                                           ComposeCase{"/s/a.txt", "/t/*.bak", "/t/a.bak"},
                                           ComposeCase{"/s/a.txt", "b.md", "/s/b.md"},
                                           ComposeCase{"/s/a.txt", "/t/c.*", "/t/c.txt"},
                                           ComposeCase{"/s/a.txt", "/t/.hidden", "/t/.hidden.txt"}));

TEST(PathRoutines, MakeAbsolutePathKeepsAbsoluteAndJoinsRelative)
{
    EXPECT_EQ(MakeAbsolutePath("/base", "/abs/x"), "/abs/x");
    EXPECT_EQ(MakeAbsolutePath("/base/", "rel/x"), "/base/rel/x");
    EXPECT_EQ(MakeAbsolutePath("/base", "rel"), "/base/rel");
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
    EXPECT_FALSE(CanCreateFile(env.Work() + "missing/dir/x.txt"));
}

TEST(ClassRegistry, RegistersEachNameOnceAndIgnoresNull)
{
    RegisterClassesSafe({&TkitComponent::staticMetaObject, nullptr, &TkitCustomTimer::staticMetaObject,
                         &TkitComponent::staticMetaObject});
    const QStringList names = RegisteredClassNames();
    EXPECT_EQ(names.count("morvane::TkitComponent"), 1);
    EXPECT_EQ(names.count("morvane::TkitCustomTimer"), 1);
}

TEST(ShiftStateTest, EmptyWithoutGuiApplication)
{
    EXPECT_EQ(GetShiftState(), 0u);
}

} // namespace
