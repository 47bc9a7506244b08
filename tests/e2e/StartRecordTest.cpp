// Starts of the real agent on an item list that lags behind its backup store: what the
// list and the backup index say after each start, against the versions stored.
#include "AgentHarness.h"
#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "platform/DirListing.h"
#include "platform/FileStamp.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

struct StartCase
{
    const char* Name;
    bool Saved;           // the file's section has IsSaved
    int ListedVersion;    // VersionNum (and NameModeNumberCount) in the list
    int StoredVersions;   // version folders 001.. in the store, the last one "two"
    bool ChangedWhileOff; // the file differs from its newest version
    int WantVersion;      // VersionNum after each of two starts
};

const StartCase kStartCases[] = {
    {"ChangedWhileOffBesideTwoUnlistedVersions", true, 0, 2, true, 3},
    {"UnchangedBesideTwoUnlistedVersions", true, 0, 2, false, 2},
    {"ChangedWhileOffWithTheListUpToDate", true, 2, 2, true, 3},
    {"SectionWithoutIsSavedAndNoVersions", false, 0, 0, true, 1},
};

class StartRecord : public ::testing::TestWithParam<StartCase>
{
protected:
    void TearDown() override
    {
        if (HasFailure() && agent)
            std::fprintf(stderr, "--- agent output ---\n%s\n", agent->Output().c_str());
    }

    // One start and a clean end; the start's own versions are made before it answers.
    void StartAndStop()
    {
        agent = std::make_unique<AgentProcess>(env);
        agent->Start();
        ASSERT_TRUE(agent->WaitReady()) << agent->Output();
        agent->Terminate();
        ASSERT_TRUE(agent->WaitExit());
        ASSERT_EQ(agent->ExitCode(), 0);
    }

    test::TestEnv env;
    std::unique_ptr<AgentProcess> agent;
};

TEST_P(StartRecord, TheListGoesOnFromTheNewestStoredVersion)
{
    const StartCase& c = GetParam();
    const std::string folder = env.Work() + "docs/";
    const std::string file = folder + "a.txt";
    const std::string id = "261201001";
    const std::string backup = env.Home() + kDefaultBackupDir;
    const std::string base = backup + id + "/";

    // The stored versions, each dated as the file was when it was made.
    for (int v = 1; v <= c.StoredVersions; ++v) {
        const std::string version = base + VersionFolderName(v) + "/a(v " + std::to_string(v) + ").txt";
        test::WriteFile(version, v == c.StoredVersions ? "two" : "old" + std::to_string(v));
        fs::last_write_time(version, fs::file_time_type::clock::now() - std::chrono::hours(10 - v));
    }
    test::WriteFile(file, c.ChangedWhileOff ? "three, longer" : "two");
    if (c.StoredVersions > 0 && !c.ChangedWhileOff)
        fs::last_write_time(file, fs::last_write_time(base + VersionFolderName(c.StoredVersions) + "/a(v " +
                                                      std::to_string(c.StoredVersions) + ").txt"));
    const double fileDate = FileDate(file).value();
    {
        IniFile list(env.Home() + kListFileName);
        list.WriteString(kDefaultSection, "FolderWait", "600");
        list.WriteString(folder, "FileID", "261201000");
        list.WriteString(folder, "IsFolder", "1");
        list.WriteString(folder, "IsSaved", "1");
        list.WriteString(folder, "Monitored", "1");
        list.WriteString(folder, "MonStatus", "1");
        list.WriteString(folder, "FolderWait", "600");
        list.WriteString(file, "FileID", id);
        list.WriteString(file, "Monitored", "1");
        list.WriteString(file, "MonStatus", "1");
        list.WriteString(file, "NameMode", std::to_string(nmVersionNumber));
        list.WriteInteger(file, "VersionNum", c.ListedVersion);
        list.WriteInteger(file, "NameModeNumberCount", c.ListedVersion);
        list.WriteDate(file, "LastTime", EncodeOleDate(2020, 1, 1));
        list.WriteString(file, "DelModeNumber", "10");
        if (c.Saved)
            list.WriteString(file, "IsSaved", "1");
        list.Flush();
    }

    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        StartAndStop();
        ASSERT_FALSE(HasFailure());
        IniFile::ClearCache();
        IniFile list(env.Home() + kListFileName);
        const std::string listedId = list.ReadString(file, "FileID", "");
        const std::string listedBase = backup + listedId + "/";
        // Every version folder of the item, and no more than one new state of the file.
        std::vector<std::string> folders;
        for (const DirEntry& e : ListDir(listedBase))
            folders.push_back(e.Name);
        EXPECT_EQ(static_cast<int>(folders.size()), c.WantVersion) << "versions under " << listedBase;
        EXPECT_TRUE(DirectoryExists(listedBase + VersionFolderName(c.WantVersion)));
        EXPECT_EQ(list.ReadInteger(file, "VersionNum", -1), c.WantVersion);
        EXPECT_EQ(list.ReadInteger(file, "NameModeNumberCount", -1), c.WantVersion);
        EXPECT_NEAR(list.ReadDate(file, "LastTime", 0), fileDate, 1.0 / 86400);
        EXPECT_EQ(list.ReadString(file, "IsSaved", ""), "1");
        // The backup index maps the history back to its file.
        IniFile index(backup + kBackupIndexName);
        EXPECT_EQ(index.ReadString(kBackupIndexSection, listedId, ""), file);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StartRecord, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
