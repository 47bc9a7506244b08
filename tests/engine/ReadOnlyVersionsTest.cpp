// Versions are stored read-only, and everything the agent does to a history still works
// on them: pruning, clearing, removing the item, moving the backup tree. Versions an
// earlier run stored writable keep working the same way.
#include "EngineFixture.h"
#include "platform/FileTree.h"

#include <sys/stat.h>

namespace morvane::test {
namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class ReadOnlyVersions;

struct HistoryCase
{
    const char* Name;
    // Acts on the item's history; returns the folder where the item's versions are now.
    std::string (*Act)(ReadOnlyVersions& fx, const std::shared_ptr<TRKMonItem>& item,
                       const std::string& folder);
    std::size_t Left; // version folders left there
};

class ReadOnlyVersions : public EngineFixture,
                         public ::testing::WithParamInterface<std::tuple<HistoryCase, bool>>
{
public:
    TRKMonItems& Items() { return *items; }
    std::string WorkPath(const std::string& name) const { return Work(name); }
};

const HistoryCase kCases[] = {
    {"KeepTheLastOne",
     [](ReadOnlyVersions&, const std::shared_ptr<TRKMonItem>& item, const std::string& folder) {
         item->KeepLastVersions(1);
         return folder;
     },
     1},
    {"ClearToTheTrash",
     [](ReadOnlyVersions&, const std::shared_ptr<TRKMonItem>& item, const std::string& folder) {
         item->DeleteVersionsBefore(Now() + 1);
         return folder;
     },
     0},
    {"PruneAfterANewVersion",
     [](ReadOnlyVersions&, const std::shared_ptr<TRKMonItem>& item, const std::string& folder) {
         item->UpdateData([](TMonItemRecord& r) { r.DelModeNumber = 2; });
         WriteFile(item->Path(), "four");
         item->MakeVersion(true);
         return folder;
     },
     2},
    {"RemoveTheItem",
     [](ReadOnlyVersions& fx, const std::shared_ptr<TRKMonItem>& item, const std::string& folder) {
         fx.Items().RemoveFileItem(item);
         return folder;
     },
     0},
    {"MoveTheBackupFolder",
     [](ReadOnlyVersions& fx, const std::shared_ptr<TRKMonItem>&, const std::string& folder) {
         const std::string target = fx.WorkPath("moved/item");
         std::filesystem::create_directories(fx.WorkPath("moved"));
         EXPECT_EQ(CopyTree(WithoutTrailingSep(folder), target, true, nullptr, {}).Status, TreeStatus::Ok);
         EXPECT_FALSE(std::filesystem::exists(folder));
         return target + "/";
     },
     3},
};

TEST_P(ReadOnlyVersions, TheHistoryStillChanges)
{
    const auto& [c, earlierRun] = GetParam();
    const std::string file = Work("docs/a.txt");
    std::shared_ptr<TRKMonItem> item = AddFile(file, [](TMonItemRecord& r) {
        r.DelMode = dmNumber;
        r.DelModeNumber = 100;
    });
    for (const char* text : {"one", "two", "three"}) {
        WriteFile(file, text);
        ASSERT_TRUE(item->MakeVersion(true));
        const std::string version = item->LastVersionPath();
        ASSERT_EQ(ModeOf(version), 0400u) << "stored read-only: " << version;
        if (earlierRun)
            ::chmod(version.c_str(), 0600);
    }
    const std::string folder = c.Act(*this, item, ItemFolder(*item));
    std::size_t left = 0;
    if (std::filesystem::exists(folder)) {
        for (const VersionEntry& v : ListVersionFolders(folder)) {
            ++left;
            const mode_t mode = ModeOf(folder + v.Name + "/" + v.Files.front().Name);
            // Versions stay as they were stored; a new one is read-only.
            EXPECT_TRUE(mode == 0400u || (earlierRun && mode == 0600u)) << std::oct << mode;
        }
    }
    EXPECT_EQ(left, c.Left);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOnlyVersions,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    (std::get<1>(info.param) ? "_EarlierRun" : "");
                         });

} // namespace
} // namespace morvane::test
