#include "platform/DirListing.h"

#include "common/TestSupport.h"
#include "platform/FileCopy.h"
#include "platform/FileStamp.h"
#include "platform/Log.h"
#include "platform/OleDate.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace morvane;

namespace {

struct MaskCase
{
    const char* name;
    const char* mask;
    bool matches;
};

class Masks : public ::testing::TestWithParam<MaskCase>
{
};

TEST_P(Masks, Match)
{
    EXPECT_EQ(MatchesMask(GetParam().name, GetParam().mask), GetParam().matches)
        << GetParam().name << " / " << GetParam().mask;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Masks,
    ::testing::Values(MaskCase{"REPORT.DOC", "*.doc", true}, MaskCase{"report.docx", "*.doc", false},
                      MaskCase{"Makefile", "*.*", true}, MaskCase{".hidden", "*", true},
                      MaskCase{"ab.txt", "?.txt", false}, MaskCase{"é.txt", "?.txt", true},
                      MaskCase{"été.txt", "*é.TXT", true}, MaskCase{"abcabd", "*abd", true},
                      MaskCase{"abcab", "a*c*d", false}, MaskCase{"x.gz.tar", "*.gz", false},
                      MaskCase{"a", "a**", true}, MaskCase{"a", "", false}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ListDir, EveryEntryWithItsKindAndLocalDate)
{
    test::TestEnv env;
    const std::string dir = env.Work();
    test::WriteFile(dir + "plain.txt", "x");
    test::WriteFile(dir + ".hidden", "x");
    std::filesystem::create_directory(dir + "sub");
    ASSERT_EQ(::mkfifo((dir + "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir + "sub", dir + "linkdir");
    std::filesystem::create_symlink(dir + "gone", dir + "dangling");
    tm local{};
    local.tm_year = 124, local.tm_mon = 2, local.tm_mday = 5;
    local.tm_hour = 14, local.tm_min = 7, local.tm_sec = 9, local.tm_isdst = -1;
    const timespec times[2] = {{0, UTIME_OMIT}, {mktime(&local), 700000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "plain.txt").c_str(), times, 0), 0);

    std::map<std::string, DirEntry> byName;
    for (const DirEntry& e : ListDir(dir))
        byName[e.Name] = e;
    ASSERT_EQ(byName.size(), 6u); // all but "." and ".."
    EXPECT_FALSE(byName["pipe"].IsRegular || byName["pipe"].IsDir);
    EXPECT_TRUE(byName["plain.txt"].IsRegular && !byName["plain.txt"].IsHidden);
    EXPECT_TRUE(byName[".hidden"].IsHidden);
    EXPECT_TRUE(byName["linkdir"].IsDir);
    EXPECT_FALSE(byName["dangling"].IsRegular);
    EXPECT_EQ(byName["plain.txt"].ModTime, EncodeOleDate(2024, 3, 5, 14, 7, 9));

    EXPECT_FALSE(FileExists(dir + "pipe"));
    EXPECT_TRUE(DirectoryExists(dir + "linkdir"));
    EXPECT_TRUE(ListDir(dir + "missing/").empty());
}

// The links the test makes are its user's: the rule is told another user is the one
// trusted, so they stand for links of another user, with their real owner looked at.
using LinkOwners = ::testing::TestWithParam<bool>;

TEST_P(LinkOwners, ALinkIsFollowedOnlyWhenItIsTheUsersAndEachRefusalIsLoggedOnce)
{
    const bool ours = GetParam();
    test::TestEnv env;
    const std::string dir = env.Work();
    test::WriteFile(dir + "private.txt", "not for others");
    test::WriteFile(dir + "sub/in.txt", "x");
    std::filesystem::create_symlink(dir + "private.txt", dir + "link");
    std::filesystem::create_symlink("link", dir + "chain");
    std::filesystem::create_symlink("sub", dir + "linkdir");
    std::vector<std::string> lines;
    SetLogSink([&](const std::string& line) { lines.push_back(line); });
    const uid_t before = FollowLinksOf(ours ? ::geteuid() : ::geteuid() + 1);
    for (int look = 0; look < 2; ++look)
        for (const DirEntry& e : ListDir(dir))
            EXPECT_EQ(e.IsRegular || e.IsDir, ours || e.Name == "private.txt" || e.Name == "sub") << e.Name;
    EXPECT_EQ(FileExists(dir + "chain"), ours);
    EXPECT_EQ(StampOf(dir + "link").has_value(), ours);
    EXPECT_EQ(DirectoryExists(dir + "linkdir/"), ours);
    EXPECT_EQ(ListDir(dir + "linkdir/").size(), ours ? 1u : 0u);
    EXPECT_EQ(CopyFileSafely(dir + "link", dir + "sub/copy").Status,
              ours ? CopyStatus::Ok : CopyStatus::NotRegular);
    EXPECT_EQ(std::filesystem::exists(dir + "sub/copy"), ours);
    EXPECT_EQ(FilesEqual(dir + "link", dir + "private.txt").has_value(), ours);
    FollowLinksOf(before);
    SetLogSink({});
    EXPECT_EQ(lines.size(), ours ? 0u : 3u) << "one line each for link, chain and linkdir";
}

INSTANTIATE_TEST_SUITE_P(Owners, LinkOwners, ::testing::Bool());

} // namespace
