#include "EngineFixture.h"

#include <algorithm>
#include <random>

namespace morvane::test {
namespace {

class PruneTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        file = Work("p.txt");
        WriteFile(file, "p");
        item = AddFile(file);
        base = ItemFolder(*item);
    }

    // A version folder holding one file; its file and the folder get the given ages.
    std::string MakeVersion(const std::string& name, double folderAgeDays, double fileAgeDays)
    {
        const std::string path = base + name + "/p(v).txt";
        WriteFile(path, name);
        SetAge(path, fileAgeDays);
        SetAge(base + name, folderAgeDays);
        return path;
    }
    bool Exists(const std::string& path) const { return std::filesystem::exists(path); }

    std::string file;
    std::string base;
    std::shared_ptr<TRKMonItem> item;
};

TEST_F(PruneTest, KeepLastVersionsCountsInNumericOrderWhateverTheCreationOrder)
{
    std::vector<std::string> names{"007", "998", "999", "1000", "1001"};
    std::shuffle(names.begin(), names.end(), std::mt19937(42));
    for (const auto& name : names)
        MakeVersion(name, 1, 1);
    item->KeepLastVersions(3);
    EXPECT_EQ(Versions(*item), (std::vector<std::string>{"999", "1000", "1001"}));
    EXPECT_FALSE(Exists(base + "007"));
    EXPECT_FALSE(Exists(base + "998"));
}

TEST_F(PruneTest, KeepLastVersionsWithMoreRoomThanVersionsOrNoneAtAll)
{
    for (const char* name : {"001", "002", "003"})
        MakeVersion(name, 1, 1);
    item->KeepLastVersions(10);
    EXPECT_EQ(Versions(*item).size(), 3u);
    item->KeepLastVersions(0);
    EXPECT_TRUE(Versions(*item).empty());
}

TEST_F(PruneTest, OnlyAllDigitFoldersAreVersions)
{
    MakeVersion("001", 5, 5);
    WriteFile(base + "notes/keep.txt", "mine");
    WriteFile(base + "12a/keep.txt", "mine");
    WriteFile(base + "readme", "mine");
    item->KeepLastVersions(0);
    item->DeleteVersionsBefore(Now());
    EXPECT_FALSE(Exists(base + "001"));
    EXPECT_TRUE(Exists(base + "notes/keep.txt"));
    EXPECT_TRUE(Exists(base + "12a/keep.txt"));
    EXPECT_TRUE(Exists(base + "readme"));
}

TEST_F(PruneTest, DeleteVersionsBeforeAnAgeKeepsTheYoungerOnes)
{
    item->UpdateData([](TMonItemRecord& r) { r.LastTime = Now() + 10; });
    MakeVersion("002", 1, 1);
    MakeVersion("001", 3, 3);
    item->DeleteVersionsBefore(Now() - 2);
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"002"});
}

TEST_F(PruneTest, DeleteVersionsBeforeNowRemovesEverythingOlderThanTheLastReport)
{
    item->UpdateData([](TMonItemRecord& r) {
        r.LastTime = Now() + 10;
        r.LastVersionPath.Set("/somewhere/else");
    });
    MakeVersion("001", 3, 3);
    MakeVersion("002", 1, 1);
    item->DeleteVersionsBefore(Now());
    EXPECT_FALSE(Exists(base)) << "the emptied item backup folder goes too";
    EXPECT_EQ(item->LastVersionPath(), "/somewhere/else");
}

TEST_F(PruneTest, ClearingHistoryKeepsTheVersionWrittenAfterTheLastReport)
{
    MakeVersion("001", 3, 2);
    const std::string newest = MakeVersion("002", 1.0 / 24, 1.0 / 24);
    const double lastTime = Now() - 1;
    item->UpdateData([lastTime](TMonItemRecord& r) { r.LastTime = lastTime; });
    item->DeleteVersionsBefore(lastTime);
    EXPECT_EQ(Versions(*item), std::vector<std::string>{"002"});
    EXPECT_EQ(item->LastVersionPath(), newest);
}

TEST_F(PruneTest, TheNewestVersionIsTheHighestNumberNotTheLastListed)
{
    item->UpdateData([](TMonItemRecord& r) { r.LastTime = Now() - 5; });
    const std::string v1000 = MakeVersion("1000", 1, 1);
    MakeVersion("999", 1, 1);
    item->DeleteVersionsBefore(Now() - 3);
    EXPECT_EQ(item->LastVersionPath(), v1000);
}

TEST_F(PruneTest, NothingReachedThroughALinkIsDeleted)
{
    const std::string outside = Work("outside/");
    WriteFile(outside + "precious.txt", "mine");
    std::filesystem::create_directories(base);
    std::filesystem::create_directory_symlink(outside, base + "005");
    WriteFile(base + "006/link-target.txt", "v");
    std::filesystem::create_symlink(outside + "precious.txt", base + "006/link");
    SetAge(base + "006", 3);
    item->KeepLastVersions(0);
    item->DeleteVersionsBefore(Now());
    EXPECT_EQ(ReadFile(outside + "precious.txt"), "mine");
}

class UnsafeFileIdTest : public PruneTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(UnsafeFileIdTest, AFileIdThatIsNoPlainFolderNameDeletesNothing)
{
    // Version-like folders wherever such an id could point.
    const std::vector<std::string> bait{BackupRoot() + "001/x", env.Home() + "001/x",
                                        BackupRoot() + "a/b/001/x"};
    for (const auto& path : bait) {
        WriteFile(path, "mine");
        SetAge(FolderPart(path), 3);
    }
    const std::string id = GetParam();
    item->UpdateData([&id](TMonItemRecord& r) { r.FileID.Set(id); });
    item->DeleteVersionsBefore(Now());
    item->KeepLastVersions(0);
    items->RemoveFile(items->FindByPath(file));
    for (const auto& path : bait)
        EXPECT_EQ(ReadFile(path), "mine") << path;
}
INSTANTIATE_TEST_SUITE_P(Ids, UnsafeFileIdTest, ::testing::Values("", "..", ".", "a/b", "../backup"),
                         test::ValueRowName());

} // namespace
} // namespace morvane::test
