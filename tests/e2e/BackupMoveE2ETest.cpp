#include "AgentFixture.h"
#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "monitor/AgentLink.h"
#include "monitor/BackupMove.h"
#include "platform/DirListing.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/NamedMutex.h"
#include "support/components/TkitFileOperation.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

struct StoredVersion
{
    std::string Bytes;
    timespec Time{};
};

// Every version file below root, by its path relative to root.
std::map<std::string, StoredVersion> VersionFiles(const std::string& root)
{
    std::map<std::string, StoredVersion> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = entry.path().string().substr(root.size());
        if (!entry.is_regular_file() || rel.find('/') == std::string::npos)
            continue;
        struct stat st = {};
        ::stat(entry.path().c_str(), &st);
        files[rel] = {test::ReadFile(entry.path().string()), st.st_mtim};
    }
    return files;
}

class BackupMoveE2E : public AgentTest
{
protected:
    BackupMoveE2E() { folderWait = 0; }
    void TearDown() override
    {
        TkitFileOperation::SetForceCopy(false);
        if (!m_shm.empty())
            fs::remove_all(m_shm);
        AgentTest::TearDown();
    }
    // Another file system where there is one; else the copy road is forced.
    std::string Destination()
    {
        if (DirectoryExists("/dev/shm") && !SameFileSystem("/dev/shm", env.Work()) &&
            ::access("/dev/shm", W_OK) == 0) {
            m_shm = "/dev/shm/mvt-move-" + std::to_string(::getpid()) + "/";
            return m_shm + "backup/";
        }
        TkitFileOperation::SetForceCopy(true);
        return env.Work() + "moved/backup/";
    }
    std::string m_shm;
};

} // namespace

TEST_F(BackupMoveE2E, FiftyItemsMoveAcrossFileSystemsAfterACancel)
{
    // The move belongs to a running monitor: the agent keeps its hold only while one runs.
    auto monitorMutex = NamedMutex::TryAcquire(kMonitorMutexName);
    ASSERT_TRUE(monitorMutex);
    constexpr int kItems = 50;
    const std::string folder = env.Work() + "many/";
    for (int i = 0; i < kItems; ++i)
        test::WriteFile(folder + "f" + std::to_string(i) + ".txt", "start " + std::to_string(i));
    Add(folder);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, kItems));
    for (int i = 0; i < kItems; ++i)
        ReplaceFile(folder + "f" + std::to_string(i) + ".txt", "saved " + std::to_string(i), 10);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 2 * kItems));
    Sync();

    const std::string oldRoot = mon.Block()->Settings.BackupPath.Get();
    const auto before = VersionFiles(oldRoot);
    ASSERT_GE(before.size(), 2u * kItems);
    monitor::BackupMovePlan plan;
    plan.OldRoot = oldRoot;
    plan.NewRoot = Destination();
    plan.SettingsFile = env.Home() + "kelvrim.ini";
    for (const auto& report : mon.ReportsOf(MsgAdd)) {
        if (!report.Record.IsFolder)
            plan.Items.push_back({report.Record.FileID.Get(), report.Record.Path.Get()});
    }
    ASSERT_EQ(plan.Items.size(), static_cast<std::size_t>(kItems));
    plan.Items.push_back({ListValue(env, sentinel, "FileID"), sentinel});
    plan.Items.push_back({"", env.Work() + "odd.txt"}); // a list entry without a usable folder
    SharedBlock* block = mon.Block();
    plan.Hold = [block] {
        return monitor::AgentLink(block).RequestHold(20000);
    };
    plan.Release = [block] {
        monitor::AgentLink(block).RequestReinit();
    };

    // Cancelled half-way: nothing lost, the old folder still in use, the agent working.
    monitor::BackupMoveControl op;
    op.Silent = true;
    op.SetAfterFileHook([&op](int done) {
        if (done == kItems)
            op.Cancel();
    });
    monitor::BackupMoveResult r = monitor::BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, monitor::BackupMoveResult::Cancelled) << r.Text;
    EXPECT_GT(r.BroughtBack, 0);
    EXPECT_EQ(r.Moved, 0);
    EXPECT_NE(agent->Output().find("on hold"), std::string::npos);
    for (const auto& [rel, version] : before)
        EXPECT_NE(fs::exists(oldRoot + rel), fs::exists(plan.NewRoot + rel)) << rel;
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(plan.SettingsFile).ReadString("Basic", "BackupPath", ""), "");
    const std::string last = folder + "f" + std::to_string(kItems - 1) + ".txt";
    ASSERT_TRUE(fs::exists(oldRoot + plan.Items[kItems - 1].FileID));
    mon.ClearReports();
    ReplaceFile(last, "after the cancel", 20);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1)) << agent->Output();
    EXPECT_EQ(mon.ReportsOf(MsgVersion)[0].Record.LastVersionPath.Get().rfind(oldRoot, 0), 0u);

    // Run to the end: every version in the new folder, whole and with its date.
    op.SetAfterFileHook({});
    r = monitor::BackupMove::Run(plan, op);
    ASSERT_EQ(r.Outcome, monitor::BackupMoveResult::Done) << r.Text;
    for (const auto& [rel, version] : before) {
        const std::string moved = plan.NewRoot + rel;
        ASSERT_TRUE(fs::exists(moved)) << rel;
        EXPECT_EQ(test::ReadFile(moved), version.Bytes) << rel;
        struct stat st = {};
        ::stat(moved.c_str(), &st);
        EXPECT_EQ(st.st_mtim.tv_sec, version.Time.tv_sec) << rel;
        EXPECT_EQ(st.st_mtim.tv_nsec, version.Time.tv_nsec) << rel;
    }
    // ... and the one made in the old folder after the cancel too.
    EXPECT_EQ(VersionFiles(plan.NewRoot).size(), before.size() + 1);
    EXPECT_TRUE(VersionFiles(oldRoot).empty());
    IniFile index(plan.NewRoot + "files.lst");
    for (int i = 0; i < kItems; ++i)
        EXPECT_EQ(index.ReadString("Files", plan.Items[i].FileID, ""), plan.Items[i].Path) << i;
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(plan.SettingsFile).ReadString("Basic", "BackupPath", ""), plan.NewRoot);

    // The agent took up the new folder: the next save's version is made there.
    ASSERT_TRUE(test::WaitUntil([&] { return mon.Block()->Settings.BackupPath.Get() == plan.NewRoot; }));
    mon.ClearReports();
    ReplaceFile(folder + "f0.txt", "in the new folder", 30);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1)) << agent->Output();
    const std::string made = mon.ReportsOf(MsgVersion)[0].Record.LastVersionPath.Get();
    EXPECT_EQ(made.rfind(plan.NewRoot, 0), 0u) << made;
    EXPECT_EQ(test::ReadFile(made), "in the new folder");
}

// A move's hold that comes while the agent is still starting the watches of a long list
// holds those not started yet too: the release starts them, and none stays unwatched.
TEST_F(BackupMoveE2E, AHoldDuringTheStartOfManyWatchesLeavesNoneUnwatched)
{
    agent->Terminate();
    ASSERT_TRUE(agent->WaitExit(std::chrono::seconds(30)));
    constexpr int kFolders = 400;
    std::string last;
    {
        IniFile list(env.Home() + kListFileName);
        for (int i = 0; i < kFolders; ++i) {
            const std::string folder = env.Work() + "held/d" + std::to_string(i) + "/";
            last = folder + "f.txt";
            test::WriteFile(last, "start");
            list.WriteString(folder, "FileID", std::to_string(320000000 + i));
            for (const char* key : {"IsFolder", "IsSaved", "Monitored", "IsWholeFolder"})
                list.WriteBool(folder, key, true);
            list.WriteInteger(folder, "MonStatus", msActive);
            list.WriteInteger(folder, "FolderWait", 0);
        }
        list.Flush();
    }
    agent = std::make_unique<AgentProcess>(env, "no");
    agent->Start();
    ASSERT_TRUE(agent->WaitReady()) << agent->Output();
    ASSERT_TRUE(mon.Attach());
    mon.BecomeMonitor(true);
    auto monitorMutex = NamedMutex::TryAcquire(kMonitorMutexName);
    ASSERT_TRUE(monitorMutex);
    ASSERT_TRUE(monitor::AgentLink(mon.Block()).RequestHold(20000)) << agent->Output();
    monitor::AgentLink(mon.Block()).RequestReinit();

    ReplaceFile(last, "saved after the hold", 10);
    // The release starts all 400 watches at once, and each first scan takes in its file,
    // versions it and writes the list: on a loaded machine that alone takes half a minute.
    EXPECT_TRUE(test::WaitUntil(
        [&] {
            for (const auto& report : mon.ReportsOf(MsgVersion)) {
                if (report.Record.Path.Get() == last)
                    return true;
            }
            return false;
        },
        std::chrono::seconds(90)))
        << agent->Output();
}

// A monitor killed after its move named the new folder, before it removed its note:
// the agent, taking over the hold, removes the note, which would refuse every later
// move into that folder from another.
TEST_F(BackupMoveE2E, TheNoteOfAMoveWhoseMonitorDiedAsItEndedGoes)
{
    auto monitorMutex = NamedMutex::TryAcquire(kMonitorMutexName);
    ASSERT_TRUE(monitorMutex);
    ASSERT_TRUE(monitor::AgentLink(mon.Block()).RequestHold(20000)) << agent->Output();
    const std::string newRoot = env.Work() + "moved/";
    const std::string note = newRoot + kMoveNoteName;
    test::WriteFile(note, "[Move]\nFrom=" + env.Home() + "backup/\n");
    test::WriteFile(note + ".tmp.12.0000abcd", "[Mo");
    {
        IniFile settings(env.Home() + kSettingsFileName);
        settings.WriteString("Basic", "BackupPath", newRoot);
        settings.Flush();
    }
    monitorMutex.reset();
    EXPECT_TRUE(test::WaitUntil([&] { return !fs::exists(note); }, std::chrono::seconds(10)))
        << agent->Output();
    EXPECT_EQ(fs::directory_iterator(newRoot), fs::directory_iterator());
}
