#include "EngineFixture.h"
#include "engine/WatchThread.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <set>
#include <thread>

namespace morvane::test {
namespace {

// What the fake watch threads did, shared with the test.
struct WatchLog
{
    std::atomic<int> Started{0};
    std::atomic<int> Joined{0};
    std::atomic<int> Waits{0};
};

// A watch thread that keeps waiting on the main thread, as a scan reporting versions
// does, or that ends by itself at once.
class FakeWatch : public WatchThread
{
public:
    FakeWatch(TRKMonFolder& folder, WatchLog& log, bool endAtOnce)
        : WatchThread(folder.Owner().MainThread()), m_log(log), m_endAtOnce(endAtOnce)
    {
        ++m_log.Started;
        Start();
    }
    ~FakeWatch() override { StopAndJoin(); }
    void Join() override
    {
        WatchThread::Join();
        ++m_log.Joined;
    }

private:
    void Execute() override
    {
        while (!m_endAtOnce && !StopRequested()) {
            ++m_log.Waits;
            Calls().Synchronize([] {});
        }
    }
    void Failed(const std::string&) override {}

    WatchLog& m_log;
    const bool m_endAtOnce;
};

class CollectionTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        items->SetWatchThreadFactory(
            [this](TRKMonFolder& folder) { return std::make_unique<FakeWatch>(folder, log, endAtOnce); });
    }
    bool HasSection(const std::string& section) const
    {
        items->FlushList();
        IniFile::ClearCache();
        return IniFile(items->ListFile()).SectionExists(section);
    }
    std::string IndexKey(const std::string& id) const
    {
        items->FlushList();
        IniFile::ClearCache();
        return IniFile(BackupRoot() + "files.lst").ReadString("Files", id, "<none>");
    }
    // A file item with one version in its backup folder.
    std::shared_ptr<TRKMonItem> AddVersioned(const std::string& path)
    {
        WriteFile(path, "x");
        auto item = AddFile(path);
        item->Save();
        // A monitored folder makes the first version itself when it takes the file.
        item->MakeVersion(true);
        EXPECT_EQ(Versions(*item).size(), 1u);
        return item;
    }

    WatchLog log;
    bool endAtOnce = false;
};

TEST_F(CollectionTest, AddingAKnownPathReturnsTheSameItem)
{
    WriteFile(Work("a.txt"), "a");
    auto first = AddFile(Work("a.txt"));
    auto again = AddFile(Work("a.txt"));
    EXPECT_EQ(first, again);
    EXPECT_EQ(items->FileCount(), 1);
    EXPECT_EQ(items->FolderCount(), 1);
}

// A folder's scan and a request can take the same new file at once: the one that lists it
// announces it, and a request that finds it already listed by a scan announces nothing.
TEST_F(CollectionTest, OnlyTheAdderThatListsAFileAnnouncesIt)
{
    using By = TRKMonItems::AddedBy;
    struct Case
    {
        By First, Second;
        bool SecondAnnounces; // a request finding it listed announces unless a scan did
    };
    const Case cases[] = {{By::Scan, By::Request, false},
                          {By::Request, By::Scan, false},
                          {By::Request, By::Request, true},
                          {By::Scan, By::Scan, false}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = Work("race" + std::to_string(n++) + ".txt");
        WriteFile(path, "a");
        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set(path);
        bool made = false;
        auto first = items->Add(record, "", c.First, &made);
        EXPECT_TRUE(made);
        auto second = items->Add(record, "", c.Second, &made);
        EXPECT_EQ(first, second);
        EXPECT_FALSE(made) << "one item, listed once";
        const bool announces = c.Second == By::Request && !second->TakeScanAnnouncement();
        EXPECT_EQ(announces, c.SecondAnnounces) << path;
        if (c.Second == By::Request) {
            EXPECT_FALSE(second->TakeScanAnnouncement()) << "a later request announces again";
        }
    }
}

TEST_F(CollectionTest, AFileWithoutAFolderItemGetsAMonitoredSavedWatchedOne)
{
    WriteFile(Work("a.txt"), "a");
    auto item = AddFile(Work("a.txt"));
    ASSERT_EQ(items->FolderCount(), 1);
    auto folder = items->GetFolder(0);
    EXPECT_EQ(folder->Path(), env.Work());
    EXPECT_TRUE(folder->Monitored());
    EXPECT_TRUE(HasSection(env.Work()));
    EXPECT_EQ(log.Started.load(), 1);
    EXPECT_EQ(folder->IndexOfFile(Work("a.txt")), 0);
    EXPECT_FALSE(item->Monitored()) << "a new file item starts switched off";
    EXPECT_FALSE(item->FileID().empty());
}

TEST_F(CollectionTest, ThePassiveEngineNeitherSavesNorWatchesANewFolder)
{
    items->SetActive(false);
    WriteFile(Work("a.txt"), "a");
    AddFile(Work("a.txt"));
    EXPECT_FALSE(HasSection(env.Work()));
    EXPECT_EQ(log.Started.load(), 0);
}

TEST_F(CollectionTest, ANewFolderKeepsTheCallersOptionsAStoredOneItsOwn)
{
    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set(Work("f/"));
    record.FolderWait = 9;
    std::filesystem::create_directories(Work("f/"));
    auto folder = items->Add(record, "");
    EXPECT_TRUE(folder->IsFolder());
    EXPECT_EQ(folder->Data().FolderWait, 9);
    EXPECT_TRUE(folder->Monitored());

    // A second engine on the same list: the stored options win over the record's.
    items->FlushList();
    TRKMonItems other(block.get(), &host, env.Home());
    record.FolderWait = 1;
    EXPECT_EQ(other.Add(record, "")->Data().FolderWait, 9);
}

TEST_F(CollectionTest, LoadAllMakesItemsOfSectionsButNeverOfTheDefaults)
{
    const std::string path = Work("a.txt");
    const std::string unsaved = Work("b.txt"); // a section written without IsSaved
    WriteFile(path, "a");
    WriteFile(unsaved, "b");
    {
        IniFile list(items->ListFile());
        list.WriteInteger("_Default settings", "MonModeNumber", 5);
        list.WriteString(path, "FileID", "261208001");
        list.WriteBool(path, "IsSaved", true);
        list.WriteString("relative/name", "FileID", "261208002");
        list.WriteString(unsaved, "FileID", "261208003");
        list.WriteBool(unsaved, "Monitored", true);
        list.Flush();
    }
    IniFile::ClearCache();
    const std::vector<std::string> refused = items->LoadAll();
    EXPECT_EQ(items->FileCount(), 2);
    EXPECT_EQ(items->FindByPath("_Default settings"), -1);
    EXPECT_EQ(items->FindFolder("_Default settings"), -1);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].rfind("relative/name", 0), 0u);
    // The folder the list lacked is made as a new, monitored item.
    ASSERT_EQ(items->FolderCount(), 1);
    EXPECT_TRUE(items->GetFolder(0)->Monitored());
    EXPECT_EQ(items->GetFile(0)->FileID(), "261208001");
    // The section is the item's own: it is monitored, and versioned, as it says.
    const auto b = items->FileByPath(unsaved);
    EXPECT_TRUE(b->Monitored() && b->MonStatus() == msActive && Versions(*b).size() == 1);
}

// A long list is read ahead on several threads: every item still gets its own section's
// record, also where the load mends the list (0 and 1 share a FileID) after the reading
// began; 2 has no FileID (it reads the defaults), 3 one that is no folder name.
TEST_F(CollectionTest, ALongListLoadsEveryRecordFromItsOwnSection)
{
    constexpr int kItems = 300;
    for (const bool mended : {false, true}) {
        const std::string home = Work(mended ? "mended/" : "plain/");
        std::filesystem::create_directories(home);
        TRKMonItems loaded(block.get(), &host, home);
        loaded.SetActive(true); // only the agent's engine mends the list
        IniFile list(loaded.ListFile());
        for (int i = 0; i < kItems; ++i) {
            const std::string path = home + std::to_string(i);
            WriteFile(path, "x");
            if (i != 2)
                list.WriteString(path, "FileID",
                                 i == 3 ? "../x" : std::to_string(300000000 + (i == 1 && mended ? 0 : i)));
            list.WriteBool(path, "IsSaved", true);
            list.WriteInteger(path, "DelModeNumber", i + 1);
            list.WriteString(path, "Executer", "run" + std::to_string(i));
        }
        list.Flush();
        IniFile::ClearCache();
        EXPECT_TRUE(loaded.LoadAll().empty());
        ASSERT_EQ(loaded.FileCount(), kItems);
        std::set<std::string> ids;
        for (int i = 0; i < kItems; ++i) {
            const TMonItemRecord r = loaded.FileByPath(home + std::to_string(i))->Data();
            EXPECT_EQ(r.DelModeNumber, i == 2 ? 3 : i + 1) << i;
            EXPECT_EQ(r.Executer.Get(), i == 2 ? "" : "run" + std::to_string(i)) << i;
            EXPECT_TRUE(IsPlainFolderName(r.FileID.Get()) && ids.insert(r.FileID.Get()).second) << i;
            EXPECT_TRUE(i <= 3 || r.FileID.Get() == std::to_string(300000000 + i)) << i;
        }
    }
}

// The agent starts the watches of a long list a few at a time, between requests: one a
// request has stopped meanwhile stays stopped, and a shutdown starts no more.
TEST_F(CollectionTest, WatchesLeftByTheLoadStartAFewAtATime)
{
    IniFile list(items->ListFile());
    for (int i = 0; i < 5; ++i) {
        std::filesystem::create_directories(Work("w" + std::to_string(i)));
        list.WriteString(Work("w" + std::to_string(i) + "/"), "FileID", std::to_string(310000000 + i));
        for (const char* key : {"IsFolder", "IsSaved", "Monitored"})
            list.WriteBool(Work("w" + std::to_string(i) + "/"), key, true);
    }
    list.Flush();
    IniFile::ClearCache();
    items->SetLoadWatchesDeferred(true);
    EXPECT_TRUE(items->LoadAll().empty());
    EXPECT_EQ(log.Started.load(), 0) << "the load starts none itself";
    EXPECT_TRUE(items->StartLoadedWatches(2));
    EXPECT_EQ(log.Started.load(), 2);
    items->FolderByPath(Work("w2/"))->StopWatch();
    EXPECT_TRUE(items->StartLoadedWatches(2));
    EXPECT_EQ(log.Started.load(), 3) << "a folder stopped meanwhile stays stopped";
    items->StopAllWatches();
    EXPECT_FALSE(items->StartLoadedWatches(10));
    EXPECT_EQ(log.Started.load(), 3) << "none after all watches were stopped";
}

TEST_F(CollectionTest, FoldersMissingAtLoadAreLookedForAfterItReturns)
{
    const std::string here = Work("here/"), late = Work("late/"), gone = Work("gone/");
    std::filesystem::create_directories(here);
    {
        IniFile list(items->ListFile());
        int id = 1;
        for (const std::string& folder : {here, late, gone}) {
            list.WriteString(folder, "FileID", std::to_string(id++));
            list.WriteBool(folder, "IsFolder", true);
            list.WriteBool(folder, "Monitored", true);
            list.WriteInteger(folder, "MonStatus", msActive);
            list.WriteBool(folder, "IsSaved", true);
        }
        list.Flush();
    }
    IniFile::ClearCache();
    items->LoadAll();
    auto folder = [&](const std::string& path) {
        return items->FolderByPath(path);
    };
    // Nothing was waited for: the missing ones are neither started nor broken yet.
    EXPECT_EQ(log.Started, 1);
    for (const std::string& path : {late, gone}) {
        EXPECT_TRUE(folder(path)->PresencePending()) << path;
        EXPECT_EQ(folder(path)->MonStatus(), msActive) << path;
    }
    std::filesystem::create_directories(late); // the disk comes back for one of them

    ASSERT_TRUE(
        WaitUntil([&] { return !folder(late)->PresencePending() && !folder(gone)->PresencePending(); }));
    EXPECT_TRUE(folder(late)->Monitored());
    EXPECT_EQ(folder(late)->MonStatus(), msActive);
    EXPECT_EQ(log.Started, 2) << "the folder found starts its watch";
    EXPECT_FALSE(folder(gone)->Monitored());
    EXPECT_EQ(folder(gone)->MonStatus(), msBroken);
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(items->ListFile()).ReadInteger(gone, "MonStatus", -1), msBroken) << "and saved";
    EXPECT_TRUE(host.Boxes().empty()) << "a load tells nobody in a box";
}

TEST_F(CollectionTest, SearchesAreExactAndTurnAwayBadIndexes)
{
    WriteFile(Work("Report.txt"), "a");
    WriteFile(Work("b.txt"), "b");
    auto report = AddFile(Work("Report.txt"));
    AddFile(Work("b.txt"));
    EXPECT_EQ(items->FindByPath(Work("report.txt")), -1);
    EXPECT_EQ(items->FindByPath(Work("b.txt")), 1);
    EXPECT_EQ(items->FindByFileID(report->FileID()), 0);
    EXPECT_EQ(items->FindByFileID(""), -1);
    EXPECT_EQ(items->FindFolder(env.Work()), 0);
    EXPECT_EQ(items->FindFolder(Work("")), 0);
    EXPECT_EQ(items->GetFile(2), nullptr);

    items->DeleteFileEntry(-1);
    items->DeleteFileEntry(items->FileCount());
    EXPECT_EQ(items->FileCount(), 2);
    items->DeleteFileEntry(0);
    EXPECT_EQ(items->FileCount(), 1);
    EXPECT_EQ(items->FindByPath(Work("b.txt")), 0);
}

TEST_F(CollectionTest, BadPathsAreRefusedWithAClearError)
{
    for (const std::string& path : {std::string(), std::string("_Default settings"),
                                    std::string("relative.txt"), std::string("/a\nb.txt")})
        EXPECT_THROW(AddFile(path), std::invalid_argument) << path;
    EXPECT_EQ(items->FileCount(), 0);

    WriteFile(Work("a.txt"), "a");
    auto item = AddFile(Work("a.txt"));
    EXPECT_THROW(item->Reassign("/" + std::string(300, 'x')), std::invalid_argument);
    EXPECT_EQ(item->Path(), Work("a.txt")) << "never stored cut";
}

TEST_F(CollectionTest, RemovingAFileDeletesItsVersionsSectionAndKeyAndNothingElse)
{
    auto gone = AddVersioned(Work("gone.txt"));
    auto kept = AddVersioned(Work("kept.txt"));
    WriteFile(BackupRoot() + "other.txt", "mine");
    const std::string id = gone->FileID();
    ASSERT_EQ(IndexKey(id), Work("gone.txt"));

    items->RemoveFile(items->FindByPath(Work("gone.txt")));
    EXPECT_FALSE(std::filesystem::exists(ItemFolder(*gone)));
    EXPECT_FALSE(HasSection(Work("gone.txt")));
    EXPECT_EQ(IndexKey(id), "<none>");
    EXPECT_EQ(items->GetFolder(0)->IndexOfFile(Work("gone.txt")), -1);
    EXPECT_EQ(items->FindByPath(Work("gone.txt")), -1);
    EXPECT_EQ(ReadFile(Work("gone.txt")), "x") << "the monitored file itself stays";

    EXPECT_EQ(Versions(*kept).size(), 1u);
    EXPECT_EQ(ReadFile(BackupRoot() + "other.txt"), "mine");

    gone->Save();
    EXPECT_FALSE(HasSection(Work("gone.txt"))) << "a removed item is never saved again";
}

// Only the agent's engine removes history: a mirror that removed versions on its own
// would cost the history of an item the agent still watches.
TEST_F(CollectionTest, ThePassiveEngineLeavesVersionsAndTheList)
{
    auto item = AddVersioned(Work("a.txt"));
    items->FlushList();
    items->SetActive(false);
    items->RemoveFile(0);
    EXPECT_TRUE(std::filesystem::exists(ItemFolder(*item)));
    EXPECT_TRUE(HasSection(Work("a.txt")));
}

// Removing an item is the user's command: its history goes to the desktop trash whole,
// so it can be taken back as it was.
TEST_F(CollectionTest, RemovedHistoryGoesToTheTrashWhole)
{
    auto item = AddVersioned(Work("a.txt"));
    const std::string id = item->FileID();
    items->RemoveFile(0);
    EXPECT_FALSE(std::filesystem::exists(ItemFolder(*item)));
    EXPECT_TRUE(std::filesystem::exists(env.TrashFiles() + id + "/001/a.txt"));
}

class StoredFileIdTest : public CollectionTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(StoredFileIdTest, AListWithAnUnusableFileIdMakesRemovalDeleteNothingOutside)
{
    const std::string path = Work("a.txt");
    WriteFile(path, "a");
    const std::vector<std::string> bait{BackupRoot() + "001/x", env.Home() + "001/x",
                                        BackupRoot() + "a/b/001/x", BackupRoot() + "261208001/001/x"};
    for (const auto& b : bait)
        WriteFile(b, "mine");
    {
        IniFile list(items->ListFile());
        list.WriteString(path, "FileID", GetParam());
        list.WriteBool(path, "IsSaved", true);
        list.Flush();
    }
    IniFile::ClearCache();
    items->LoadAll();
    ASSERT_EQ(items->FileCount(), 1);
    items->RemoveFile(0);
    for (const auto& b : bait)
        EXPECT_EQ(ReadFile(b), "mine") << b;
}
INSTANTIATE_TEST_SUITE_P(Ids, StoredFileIdTest, ::testing::Values("", "..", "a/b", "../backup", "."));

TEST_F(CollectionTest, RemovingAFolderRemovesItsMembersTheirVersionsSectionsAndKeys)
{
    auto a = AddVersioned(Work("a.txt"));
    auto b = AddVersioned(Work("b.txt"));
    WriteFile(Work("sub/c.txt"), "c");
    auto other = AddVersioned(Work("sub/c.txt"));
    auto folder = items->FolderByPath(env.Work());
    ASSERT_TRUE(folder);
    folder->Save();
    const std::string folderId = folder->FileID();

    items->RemoveFolder(items->FindFolder(env.Work()));
    EXPECT_EQ(log.Joined.load(), 1);
    EXPECT_EQ(items->FileCount(), 1);
    EXPECT_EQ(items->FolderCount(), 1);
    for (const auto& item : {a, b}) {
        EXPECT_FALSE(std::filesystem::exists(ItemFolder(*item)));
        EXPECT_FALSE(HasSection(item->Path()));
        EXPECT_EQ(IndexKey(item->FileID()), "<none>");
    }
    EXPECT_FALSE(HasSection(env.Work()));
    EXPECT_EQ(IndexKey(folderId), "<none>");
    EXPECT_EQ(Versions(*other).size(), 1u);
    EXPECT_TRUE(HasSection(Work("sub/c.txt")));
}

TEST_F(CollectionTest, ReassignWithinTheFolderKeepsFileIdHistoryAndMembership)
{
    auto item = AddVersioned(Work("old.txt"));
    const std::string id = item->FileID();
    const auto history = Versions(*item);
    WriteFile(Work("new.txt"), "n");
    item->Reassign(Work("new.txt"));
    item->Save();
    EXPECT_EQ(item->FileID(), id);
    EXPECT_EQ(Versions(*item), history);
    EXPECT_EQ(items->FindByPath(Work("new.txt")), 0);
    EXPECT_EQ(items->FolderCount(), 1);
    EXPECT_EQ(items->GetFolder(0)->IndexOfFile(Work("new.txt")), 0);
    EXPECT_EQ(items->GetFolder(0)->FileCount(), 1);
    EXPECT_FALSE(HasSection(Work("old.txt")));
    EXPECT_TRUE(HasSection(Work("new.txt")));
}

TEST_F(CollectionTest, ReassignToAnotherFolderMakesAMonitoredFolderItemForIt)
{
    auto item = AddVersioned(Work("a.txt"));
    const std::string id = item->FileID();
    item->AfterVersion(false);
    WriteFile(Work("elsewhere/a.txt"), "moved");
    SetModTime(Work("elsewhere/a.txt"), 2026, 1, 2, 3, 4, 5);
    item->Reassign(Work("elsewhere/a.txt"));
    EXPECT_EQ(item->FileID(), id);
    // The monitored folder that takes the file makes a version of it at its new place.
    ASSERT_EQ(Versions(*item).size(), 2u);
    EXPECT_EQ(ReadFile(item->LastVersionPath()), "moved");
    auto oldFolder = items->FolderByPath(env.Work());
    auto newFolder = items->FolderByPath(Work("elsewhere/"));
    ASSERT_TRUE(newFolder);
    EXPECT_EQ(oldFolder->FileCount(), 0);
    EXPECT_EQ(newFolder->IndexOfFile(Work("elsewhere/a.txt")), 0);
    EXPECT_TRUE(newFolder->Monitored());
    EXPECT_FALSE(newFolder->Data().IsWholeFolder);
    EXPECT_TRUE(HasSection(Work("elsewhere/")));
    EXPECT_EQ(log.Started.load(), 2);
    EXPECT_THROW(item->Reassign(Work("dir/")), std::invalid_argument);
}

TEST_F(CollectionTest, ReassigningAFolderMovesItsMembers)
{
    AddVersioned(Work("f/a.txt"));
    auto folder = items->FolderByPath(Work("f/"));
    folder->Reassign(Work("g/"));
    EXPECT_EQ(folder->Path(), Work("g/"));
    EXPECT_EQ(items->FindByPath(Work("g/a.txt")), 0);
    EXPECT_TRUE(HasSection(Work("g/a.txt")));
    EXPECT_FALSE(HasSection(Work("f/a.txt")));
    EXPECT_FALSE(HasSection(Work("f/")));
    EXPECT_EQ(log.Joined.load(), 1) << "the watch of the old place ends";
    EXPECT_EQ(log.Started.load(), 2);
}

TEST_F(CollectionTest, StoppingAWatchThatWaitsOnTheMainThreadNeverDeadlocks)
{
    WriteFile(Work("a.txt"), "a");
    AddFile(Work("a.txt"));
    auto folder = items->GetFolder(0);
    ASSERT_TRUE(WaitUntil([&] { return log.Waits.load() > 2; }));
    // The main thread joins without running its event loop meanwhile.
    folder->StopWatch();
    EXPECT_EQ(log.Joined.load(), 1);
    EXPECT_FALSE(folder->Monitored());
    EXPECT_EQ(folder->WatchThread(), nullptr);
}

TEST_F(CollectionTest, AWatchThatEndedByItselfIsJoinedOnceAndNotRunning)
{
    endAtOnce = true;
    WriteFile(Work("a.txt"), "a");
    AddFile(Work("a.txt"));
    auto folder = items->GetFolder(0);
    ASSERT_TRUE(WaitUntil([&] { return folder->WatchThread() && folder->WatchThread()->Finished(); }));
    EXPECT_FALSE(folder->WatchRunning());
    folder->StartWatch();
    EXPECT_EQ(log.Joined.load(), 1) << "a second start ends the first thread";
    folder->StopWatch();
    EXPECT_EQ(log.Joined.load(), 2);
}

TEST_F(CollectionTest, SynchronizeRunsOnTheMainThreadAndPassesErrorsBack)
{
    std::atomic<bool> onMain{false};
    bool threw = false;
    std::thread worker([&] {
        items->MainThread().Synchronize([&] { onMain = host.IsMainThread(); });
        try {
            items->MainThread().Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            threw = true;
        }
    });
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        worker.join();
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    watcher.join();
    EXPECT_TRUE(onMain.load());
    EXPECT_TRUE(threw);
}

// Presence test and reports to a monitor window living in this process.
class MonitorTest : public CollectionTest
{
protected:
    static constexpr std::uint32_t kStop = 0xC003;
    static constexpr std::uint32_t kVersion = 0xC009;
    static constexpr std::uint32_t kSentinel = 0xC0FF;

    void SetUp() override
    {
        CollectionTest::SetUp();
        monitor = std::make_unique<MessageWindow>();
        monitor->SetHandler([this](const WindowMessage& m) { received.push_back(m); });
        block->MonitorRunning = true;
        block->MonitorWnd = monitor->Handle();
        block->MessageIds[MsgStop] = kStop;
        block->MessageIds[MsgVersion] = kVersion;
        path = Work("a.txt");
        WriteFile(path, "a");
        item = AddFile(path);
        item->Start();
        ASSERT_TRUE(item->Monitored());
    }
    void TearDown() override { monitor.reset(); }

    // Every message posted so far, up to a sentinel posted now.
    std::vector<WindowMessage> Drain()
    {
        PostMessage(monitor->Handle(), kSentinel, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !received.empty() && received.back().Msg == kSentinel; }));
        std::vector<WindowMessage> got(received.begin(), received.end() - 1);
        received.clear();
        return got;
    }

    std::unique_ptr<MessageWindow> monitor;
    std::vector<WindowMessage> received;
    std::string path;
    std::shared_ptr<TRKMonItem> item;
};

TEST_F(MonitorTest, AMissingFileIsMarkedBrokenSavedAndReportedToTheMonitor)
{
    std::filesystem::remove(path);
    EXPECT_FALSE(item->CheckExists(false));
    EXPECT_EQ(item->MonStatus(), msBroken);
    EXPECT_FALSE(item->Monitored());
    items->FlushList();
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(items->ListFile()).ReadInteger(path, "MonStatus", 0), msBroken);
    const auto got = Drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Msg, kStop);
    EXPECT_EQ(got[0].WParam, 1u);
    EXPECT_EQ(block->ItemRecord.Path.Get(), path);
    EXPECT_EQ(block->ItemRecord.MonStatus, msBroken);
    EXPECT_TRUE(host.Boxes().empty());
    EXPECT_FALSE(item->CheckExists(false)) << "a broken item stays broken";
    EXPECT_TRUE(Drain().empty()) << "and is reported once";
}

TEST_F(MonitorTest, ABrokenItemIsReportedAlsoAfterTheMonitorsOwnRequests)
{
    // The monitor shows an item broken only from this report.
    block->RequestOrigin = kOriginMonitor;
    std::filesystem::remove(path);
    EXPECT_FALSE(item->CheckExists(false));
    EXPECT_EQ(item->MonStatus(), msBroken);
    const auto got = Drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Msg, kStop);
    EXPECT_EQ(got[0].WParam, 1u);
}

TEST_F(MonitorTest, ThePresenceTestsBoxIsShownOnTheMainThreadAroundTheWindow)
{
    std::filesystem::remove(path);
    host.QueueAnswer(BoxAnswer::Ok);
    std::atomic<int> result{-1};
    std::thread scan([&] { result = item->CheckExists(true) ? 1 : 0; });
    EXPECT_TRUE(WaitUntil([&] { return result.load() >= 0; }));
    scan.join();
    EXPECT_EQ(result.load(), 0);
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].Kind, BoxKind::Warning);
    EXPECT_EQ(host.Boxes()[0].Text, path + " is missing");
    const auto calls = host.Calls();
    const std::vector<std::string> expected{"ShowMainWindow", "BringMainWindowToFront", "ShowMessage",
                                            "HideMainWindow"};
    EXPECT_TRUE(std::search(calls.begin(), calls.end(), expected.begin(), expected.end()) != calls.end());
    EXPECT_EQ(host.OffMainThreadCalls(), 0);
    EXPECT_EQ(Drain().size(), 1u);
}

TEST_F(MonitorTest, AFileWhoseFolderIsAbsentIsLeftAlone)
{
    WriteFile(Work("gone/b.txt"), "b");
    auto other = AddFile(Work("gone/b.txt"));
    other->Start();
    std::filesystem::remove_all(Work("gone"));
    EXPECT_TRUE(other->CheckExists(true));
    EXPECT_EQ(other->MonStatus(), msActive);
}

TEST_F(MonitorTest, ThePassiveEngineNeverTestsPresence)
{
    items->SetActive(false);
    std::filesystem::remove(path);
    EXPECT_FALSE(item->CheckExists(true));
    EXPECT_EQ(item->MonStatus(), msActive);
    item->Stop();
    item->Start();
    EXPECT_FALSE(item->Monitored());
    EXPECT_TRUE(Drain().empty());
}

TEST_F(MonitorTest, AReportedVersionIsSentToTheMonitorWithItsRecord)
{
    ASSERT_TRUE(item->MakeVersion(false));
    item->AfterVersion(false);
    auto got = Drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Msg, kVersion);
    EXPECT_EQ(block->ItemRecord.LastVersionPath.Get(), item->LastVersionPath());

    // A forced make of the unchanged file still answers.
    EXPECT_FALSE(item->MakeVersion(true));
    item->AfterVersion(true);
    got = Drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Msg, kVersion);

    // So does one of a file that changes during every copy (unless one got through).
    WriteFile(path, std::string(32 << 20, 'x'));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (auto t = std::filesystem::file_time_type::clock::now(); !done; t += std::chrono::nanoseconds(1))
            std::filesystem::last_write_time(path, t);
    });
    const bool made = static_cast<bool>(item->MakeVersion(true));
    done = true;
    writer.join();
    if (made)
        item->AfterVersion(true);
    got = Drain();
    EXPECT_TRUE(got.size() == 1 && got[0].Msg == kVersion);
    EXPECT_TRUE(made || host.BalloonTitle() == "No version made");
}

TEST_F(MonitorTest, AReportFromAnotherThreadIsMadeOnTheMainThread)
{
    ASSERT_TRUE(item->MakeVersion(false));
    std::thread scan([&] { item->AfterVersion(false); });
    scan.join();
    EXPECT_TRUE(WaitUntil([&] { return host.CountOf("ShowBalloon") == 1; }));
    EXPECT_EQ(host.OffMainThreadCalls(), 0);
    EXPECT_EQ(Drain().size(), 1u);
}

} // namespace
} // namespace morvane::test

namespace morvane::test {
namespace {

// The backup index as the list leaves it: what each FileID's key holds after a load.
TEST_F(CollectionTest, LoadGivesTheBackupIndexAKeyForEveryListedHistory)
{
    struct Key
    {
        const char* Id;
        const char* Before; // nullptr: no key
        const char* After;  // "" for the listed path
    };
    const Key keys[] = {
        {"101", nullptr, ""},                  // lost while the list was written
        {"102", "/elsewhere/b.txt", ""},       // the list's path wins
        {"103", "", ""},                       // empty value
        {"999", "/gone/z.txt", "/gone/z.txt"}, // no item: its history may still be there
    };
    std::string list;
    for (const Key& k : keys) {
        if (std::string(k.Id) == "999")
            continue;
        list += "[" + Work(std::string("f") + k.Id + ".txt") + "]\nFileID=" + k.Id + "\nIsSaved=1\n";
    }
    // A section without IsSaved keeps its own FileID, and so its key.
    list += "[" + Work("new.txt") + "]\nFileID=104\n";
    WriteFile(items->ListFile(), list);
    {
        IniFile index(BackupRoot() + "files.lst");
        for (const Key& k : keys) {
            if (k.Before)
                index.WriteString("Files", k.Id, k.Before);
        }
        std::filesystem::create_directories(BackupRoot());
        index.Flush();
    }
    IniFile::ClearCache();
    items->LoadAll();
    for (const Key& k : keys) {
        SCOPED_TRACE(k.Id);
        const std::string want = *k.After ? k.After : Work(std::string("f") + k.Id + ".txt");
        EXPECT_EQ(IndexKey(k.Id), want);
    }
    EXPECT_EQ(IndexKey("104"), Work("new.txt"));
    EXPECT_EQ(items->FindByFileID("104"), items->FindByPath(Work("new.txt")));
}

// FileID lookups follow every change of the items: a new FileID, a removal, and the
// first in the array winning where two share one.
TEST_F(CollectionTest, FileIdLookupsFollowChangesOfTheItems)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteFile(Work(name), name);
    auto a = AddFile(Work("a.txt"));
    auto b = AddFile(Work("b.txt"));
    auto c = AddFile(Work("c.txt"));
    const std::string folderId = items->GetFolder(0)->FileID();
    a->UpdateData([](TMonItemRecord& r) { r.FileID.Set("moved"); });
    c->UpdateData([](TMonItemRecord& r) { r.FileID.Set("shared"); });
    b->UpdateData([](TMonItemRecord& r) { r.FileID.Set("shared"); });
    struct Want
    {
        std::string Id;
        int Index;
    };
    const Want before[] = {{"moved", 0}, {"shared", 1}, {folderId, -1}, {"nothing", -1}};
    for (const Want& w : before)
        EXPECT_EQ(items->FindByFileID(w.Id), w.Index) << w.Id;
    items->RemoveFileItem(b);
    EXPECT_EQ(items->FindByFileID("shared"), 1) << "c moved up to index 1";
    items->RemoveFileItem(a);
    EXPECT_EQ(items->FindByFileID("moved"), -1);
    EXPECT_EQ(items->FindByFileID("shared"), 0);
}

} // namespace
} // namespace morvane::test

namespace morvane::test {
namespace {

// A folder's watch scans what the collection holds when it starts: loaded from a list,
// every watch starts only once every item of the list is there, whatever the order of
// the sections.
TEST_F(CollectionTest, WatchesStartAfterTheWholeListIsLoaded)
{
    std::vector<int> filesAtStart;
    items->SetWatchThreadFactory([&](TRKMonFolder& folder) {
        filesAtStart.push_back(items->FileCount());
        return std::make_unique<FakeWatch>(folder, log, true);
    });
    std::string list;
    for (const char* folder : {"one/", "two/"}) {
        list += "[" + Work(folder) + "]\nFileID=" + folder[0] + "dir\nIsFolder=1\nIsSaved=1\nMonitored=1\n";
        for (int i = 0; i < 3; ++i) {
            const std::string file = Work(folder) + std::to_string(i) + ".txt";
            WriteFile(file, "x");
            list += "[" + file + "]\nFileID=" + folder[0] + std::to_string(i) + "\nIsSaved=1\n";
        }
    }
    WriteFile(items->ListFile(), list);
    IniFile::ClearCache();
    items->LoadAll();
    EXPECT_EQ(filesAtStart, (std::vector<int>{6, 6}));
    EXPECT_TRUE(items->GetFolder(0)->Monitored());
}

TEST_F(CollectionTest, LoadTellsOfBackupFoldersNoItemNamesOnlyWhenTheyHoldVersions)
{
    WriteFile(Work("a.txt"), "a");
    WriteFile(items->ListFile(), "[" + Work("a.txt") + "]\nFileID=101\nIsSaved=1\n");
    WriteFile(BackupRoot() + "101/001/a.txt", "listed");
    WriteFile(BackupRoot() + "201/001/b.txt", "nobody's");
    WriteFile(BackupRoot() + "202", "a file, no folder");
    std::filesystem::create_directories(BackupRoot() + "203");
    std::vector<std::string> lines;
    const LogSink previous = SetLogSink([&lines](const std::string& line) { lines.push_back(line); });
    IniFile::ClearCache();
    items->LoadAll();
    SetLogSink(previous);
    std::vector<std::string> told;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(told), [](const std::string& line) {
        return line.find("hold versions of files that neither") != std::string::npos;
    });
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told.front().find("1 backup folders in "), std::string::npos) << told.front();
}

} // namespace
} // namespace morvane::test
