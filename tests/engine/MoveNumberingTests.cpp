// While a backup move is unfinished an item's versions may lie in two folders: a version
// made then never takes a number the other folder uses, so running the move again merges
// the two without a clash.
#include "EngineFixture.h"
#include "platform/IniFile.h"

#include <filesystem>

namespace morvane::test {
namespace {

struct NumberingCase
{
    const char* Name;
    const char* MoveTo;         // the unfinished move's folder in the settings ("" none; "@" the test's)
    int NewestThere;            // highest version folder of the item there (0: no item folder)
    const char* ExpectedFolder; // the version folder the next version takes in the old folder
};

class MoveNumberingTest : public EngineFixture, public ::testing::WithParamInterface<NumberingCase>
{
};

TEST_P(MoveNumberingTest, NextVersionPassesBothFolders)
{
    const NumberingCase& c = GetParam();
    const std::string file = Work("docs/a.txt");
    WriteFile(file, "first");
    const auto item = AddFile(file, [](TMonItemRecord& r) {
        r.Monitored = true;
        r.MonStatus = msActive;
    });
    ASSERT_TRUE(item->MakeVersion(true));
    item->AfterVersion(true);
    const std::string other = Work("moving/");
    std::string moveTo = c.MoveTo;
    if (moveTo == "@")
        moveTo = other;
    if (c.NewestThere > 0)
        WriteFile(ItemBackupFolder(other, item->FileID()) + VersionFolderName(c.NewestThere) + "/a.txt",
                  "moved");
    if (!moveTo.empty()) {
        IniFile settings(env.Home() + kSettingsFileName);
        settings.WriteString("Basic", kMoveToKey, moveTo);
        settings.Flush();
    }
    WriteFile(file, "second, saved while the move was stopped");
    ASSERT_TRUE(item->MakeVersion(true));
    EXPECT_EQ(Versions(*item).back(), c.ExpectedFolder);
    if (c.NewestThere > 0) {
        EXPECT_EQ(
            ReadFile(ItemBackupFolder(other, item->FileID()) + VersionFolderName(c.NewestThere) + "/a.txt"),
            "moved");
    }
    // The newest version gone ahead to the move's folder still stands for the file.
    if (moveTo == other) {
        std::filesystem::create_directories(ItemBackupFolder(other, item->FileID()));
        std::filesystem::rename(ItemFolder(*item) + c.ExpectedFolder,
                                ItemBackupFolder(other, item->FileID()) + c.ExpectedFolder);
        EXPECT_EQ(item->MakeVersion(false).Outcome, VersionOutcome::Unchanged);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MoveNumberingTest,
                         ::testing::Values(NumberingCase{"NoMove", "", 7, "002"},
                                           NumberingCase{"MovedVersionsAhead", "@", 7, "008"},
                                           NumberingCase{"ItemNotMovedYet", "@", 0, "002"},
                                           NumberingCase{"MovedOnlyTheFirst", "@", 1, "002"},
                                           NumberingCase{"RelativeSettingIgnored", "moving/", 7, "002"}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace morvane::test
