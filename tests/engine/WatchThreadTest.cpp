#include "common/TestSupport.h"
#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/ChangeNotification.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/MessageAtoms.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace morvane;
using morvane::test::WaitUntil;
using morvane::test::WriteFile;
namespace fs = std::filesystem;

namespace {

// Runs every call queued onto the main thread so far, without waiting for more.
void RunQueuedCalls()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// A host that records what the engine shows and answers boxes with OK/Yes. Main-thread
// calls are queued onto the Qt loop that WaitUntil pumps.
class WatchHost : public EngineHost
{
public:
    void ShowMainWindow() override {}
    void BringMainWindowToFront() override {}
    void HideMainWindow() override {}
    void SetBalloonTitle(const std::string&) override {}
    void SetBalloonText(const std::string& text) override { m_text = text; }
    void ShowBalloon() override
    {
        std::lock_guard lock(m_mutex);
        Balloons.push_back(m_text);
    }
    void SetTrayImage(int index) override
    {
        std::lock_guard lock(m_mutex);
        Images.push_back(index);
        if (index == 0 && !Images.empty())
            ++Idles;
    }
    BoxAnswer ShowMessage(BoxKind, const std::string& text, BoxButtons buttons) override
    {
        std::lock_guard lock(m_mutex);
        Boxes.push_back(text);
        return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Yes;
    }
    void PostToMainThread(std::function<void()> fn) override
    {
        ++Posts;
        QMetaObject::invokeMethod(&m_context, std::move(fn), Qt::QueuedConnection);
    }
    bool IsMainThread() const override { return QThread::currentThread() == m_context.thread(); }

    std::mutex& BalloonMutex() { return m_mutex; }
    std::size_t BalloonCount()
    {
        std::lock_guard lock(m_mutex);
        return Balloons.size();
    }
    std::vector<std::string> BoxTexts()
    {
        std::lock_guard lock(m_mutex);
        return Boxes;
    }
    // Number of times the tray went back to idle: one per finished scan, plus one when
    // each thread starts.
    int IdleCount()
    {
        std::lock_guard lock(m_mutex);
        return Idles;
    }

    std::vector<std::string> Balloons;
    std::vector<std::string> Boxes;
    std::vector<int> Images;
    int Idles = 0;
    std::atomic<int> Posts{0};

private:
    QObject m_context;
    std::mutex m_mutex;
    std::string m_text;
};

// Fails the run loudly instead of hanging it when a stop or join deadlocks.
class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_cv.wait_for(lock, limit, [this] { return m_done; })) {
                  std::fprintf(stderr, "watchdog: the test hung\n");
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

void SetFileTime(const std::string& path, time_t when)
{
    struct utimbuf times = {when, when};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

// A save: new content and a date no earlier version had (file dates are whole seconds).
// The content is written beside the watched folder and renamed in, so no scan ever sees
// a half-written temporary file of the test itself.
void Save(const std::string& path, const std::string& text, time_t when)
{
    const fs::path target(path);
    const fs::path staged = target.parent_path().parent_path() / (".stage-" + target.filename().string());
    WriteFile(staged.string(), text);
    SetFileTime(staged.string(), when);
    fs::create_directories(target.parent_path());
    fs::rename(staged, target);
}

bool Handshake(SharedBlock& block)
{
    return block.AddHandshake.AtomicLoad();
}

class WatchThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IniFile::ClearCache();
        std::memset(static_cast<void*>(&block), 0, sizeof block);
        block.Settings.ShowBaloon = true;
        for (int slot = 0; slot < kTextSlotCount; ++slot) {
            if (kTextSlots[slot].Default)
                block.Texts[slot].Set(kTextSlots[slot].Default);
        }
        for (int i = 0; i < kMessageCount; ++i)
            block.MessageIds[i] = RegisterWindowMessage(kMessageNames[i]);
        // New file items settle fast and keep every version.
        WriteFile(env.Home() + kListFileName, "[_Default settings]\nFolderWait=0\nDelModeNumber=100\n");
        items = std::make_unique<TRKMonItems>(&block, &host, env.Home());
        block.Settings.BackupPath.Set(items->BackupRoot());
        items->SetActive(true);
        TMonDirThread::Install(*items);
        fs::create_directories(folder);
    }
    void TearDown() override
    {
        items.reset();
        // Runs the calls the threads queued before they were joined.
        RunQueuedCalls();
    }

    std::shared_ptr<TRKMonFolder> WatchFolder(bool whole, bool templates, const std::string& masks,
                                              bool hidden = false, int wait = 0)
    {
        TMonItemRecord r = EmptyItemRecord();
        r.Path.Set(folder);
        r.IsFolder = true;
        r.IsWholeFolder = whole;
        r.UseTemplates = templates;
        r.Templates.Set(masks);
        r.FolderMonHidden = hidden;
        r.FolderWait = wait;
        r.DelModeNumber = 100;
        items->Add(r, "");
        return items->FolderByPath(folder);
    }

    // Waits until a scan has finished after the point idleMark was taken.
    bool ScanDoneAfter(int idleMark)
    {
        return WaitUntil([&] { return host.IdleCount() > idleMark; });
    }

    // Whole version files of an item (temporary leftovers not counted).
    int VersionCount(const std::string& path)
    {
        auto item = items->FileByPath(path);
        if (!item)
            return 0;
        int n = 0;
        const std::string base = ItemBackupFolder(items->BackupRoot(), item->FileID());
        for (const DirEntry& v : ListDir(base)) {
            for (const DirEntry& f : ListDir(base + v.Name + "/"))
                n += f.IsRegular;
        }
        return n;
    }

    test::TestEnv env;
    std::string folder = env.Work() + "watched/";
    SharedBlock block;
    WatchHost host;
    std::unique_ptr<TRKMonItems> items;
};

} // namespace

TEST_F(WatchThreadTest, SavingAFileGivesExactlyOneVersionAfterTheFolderWait)
{
    const std::string file = folder + "report.txt";
    Save(file, "first", 1'700'000'000);
    auto watched = WatchFolder(true, false, "", false, 1);
    ASSERT_TRUE(WaitUntil([&] { return host.BalloonCount() == 1; })) << "the first scan versions the file";
    ASSERT_TRUE(WaitUntil([&] { return !items->FileByPath(file)->Busy() && host.IdleCount() >= 2; }));
    const int mark = host.IdleCount();

    // One save is a burst of events (create, write, close, rename): one scan, one version.
    const auto saved = std::chrono::steady_clock::now();
    Save(file, "second, longer", 1'700'000'100);
    ASSERT_TRUE(WaitUntil([&] { return host.BalloonCount() == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - saved, std::chrono::milliseconds(900))
        << "the folder settles before it is scanned";
    ASSERT_TRUE(ScanDoneAfter(mark));
    EXPECT_EQ(VersionCount(file), 2);
    EXPECT_EQ(test::ReadFile(items->FileByPath(file)->LastVersionPath()), "second, longer");
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(WatchThreadTest, NewMatchingFileIsAddedAnnouncedAndWaitedFor)
{
    // An in-process stand-in for the monitor: it takes the record and clears the handshake.
    std::vector<std::string> announced;
    std::vector<bool> pendingWhenAnnounced;
    MessageWindow monitor;
    monitor.SetHandler([&](const WindowMessage& m) {
        if (m.Msg != block.MessageIds[MsgAdd])
            return;
        announced.push_back(block.ItemRecord.Path.Get());
        pendingWhenAnnounced.push_back(Handshake(block));
        block.AddHandshake.AtomicStore(false);
    });
    block.MonitorWnd = monitor.Handle();
    block.MonitorRunning = true;

    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(ScanDoneAfter(host.IdleCount()));
    const std::string file = folder + "new.txt";
    Save(file, "hello", 1'700'000'000);

    ASSERT_TRUE(WaitUntil([&] { return announced.size() == 1 && host.BalloonCount() == 1; }));
    EXPECT_EQ(announced[0], file);
    EXPECT_TRUE(pendingWhenAnnounced[0]) << "the handshake is raised before the post";
    EXPECT_FALSE(Handshake(block));
    auto item = items->FileByPath(file);
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->Monitored());
    EXPECT_EQ(item->MonStatus(), msActive);
    EXPECT_EQ(watched->IndexOfFile(file), 0);
    items->FlushList();
    IniFile::ClearCache();
    IniFile list(items->ListFile());
    EXPECT_EQ(list.ReadString(file, "Monitored", ""), "1") << "the new item is saved";
    EXPECT_EQ(VersionCount(file), 1);
}

TEST_F(WatchThreadTest, WithoutAMonitorNewFilesAreAddedWithoutAnyPost)
{
    block.MonitorRunning = false;
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(ScanDoneAfter(host.IdleCount()));
    const int mark = host.IdleCount();
    Save(folder + "a.txt", "x", 1'700'000'000);
    ASSERT_TRUE(WaitUntil([&] { return items->FileByPath(folder + "a.txt") != nullptr; }));
    ASSERT_TRUE(ScanDoneAfter(mark));
    EXPECT_FALSE(Handshake(block)) << "no monitor, no handshake";
}

TEST_F(WatchThreadTest, ANameTheListCannotHoldIsSaidInOneBalloon)
{
    const std::string bad = folder + "two\nlines.txt";
    Save(bad, "x", 1'700'000'000);
    Save(folder + "good.txt", "x", 1'700'000'000);
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(WaitUntil([&] { return items->FileByPath(folder + "good.txt") != nullptr; }));
    const int mark = host.IdleCount();
    // Another scan meets the same name again.
    Save(folder + "good.txt", "changed", 1'700'000'100);
    ASSERT_TRUE(ScanDoneAfter(mark));
    RunQueuedCalls();
    EXPECT_EQ(items->FileByPath(bad), nullptr);
    std::lock_guard lock(host.BalloonMutex());
    const auto refused =
        std::count_if(host.Balloons.begin(), host.Balloons.end(),
                      [&](const std::string& text) { return text.find(bad) != std::string::npos; });
    EXPECT_EQ(refused, 1) << "once per name";
}

struct MaskCase
{
    const char* Name;
    bool Whole;
    bool Templates;
    const char* Masks;
    bool Hidden;
    std::vector<std::string> Added;
};
void PrintTo(const MaskCase& c, std::ostream* os)
{
    *os << c.Name;
}

class WatchThreadMasks : public WatchThreadTest, public ::testing::WithParamInterface<MaskCase>
{
};

TEST_P(WatchThreadMasks, OnlyMatchingRegularFilesBecomeItems)
{
    const MaskCase& c = GetParam();
    for (const char* name : {"a.txt", "b.doc", ".hidden.txt", "sub/c.txt"})
        Save(folder + name, name, 1'700'000'000);
    // A FIFO would block whoever opened it: the scan must pass it by and finish.
    ASSERT_EQ(mkfifo((folder + "pipe.txt").c_str(), 0600), 0);

    Watchdog dog(std::chrono::seconds(60));
    auto watched = WatchFolder(c.Whole, c.Templates, c.Masks, c.Hidden);
    ASSERT_TRUE(ScanDoneAfter(1)) << "the first scan finishes";
    std::vector<std::string> added;
    for (const auto& f : items->Files())
        added.push_back(NamePart(f->Path()));
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, c.Added);
    EXPECT_EQ(watched->FileCount(), static_cast<int>(c.Added.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WatchThreadMasks,
    ::testing::Values(
        MaskCase{"WholeFolder", true, false, "", false, {"a.txt", "b.doc"}},
        MaskCase{"WholeFolderWithHidden", true, false, "", true, {".hidden.txt", "a.txt", "b.doc"}},
        MaskCase{"TextTemplate", false, true, "*.txt;", false, {"a.txt"}},
        MaskCase{"TemplateWithHidden", false, true, "*.txt;", true, {".hidden.txt", "a.txt"}},
        MaskCase{"MasksIgnoreCase", false, true, "*.TXT;;B.*;", false, {"a.txt", "b.doc"}},
        MaskCase{"LastMaskWithoutSemicolonUnused", false, true, "*.doc;*.txt", false, {"b.doc"}},
        MaskCase{"PlainFolderAddsNothing", false, false, "*.txt;", false, {}}),
    [](const ::testing::TestParamInfo<MaskCase>& info) { return std::string(info.param.Name); });

// The test's own links stand for another user's once another user is the one trusted
// (their real owner is looked at): neither a new one in the folder nor one put in place of
// a monitored file gives a version of the private file it leads to.
TEST_F(WatchThreadTest, AnotherUsersLinkGivesNoVersionOfItsTarget)
{
    const std::string secret = env.Work() + "secret.txt", file = folder + "report.txt";
    Save(secret, "private", 1'700'000'000);
    Save(file, "mine", 1'700'000'000);
    fs::create_symlink(secret, folder + "lure.txt");
    std::atomic<int> seenAt{-1}, lureLines{0};
    SetLogSink([&](const std::string& line) {
        lureLines += line.find("lure.txt") != std::string::npos;
        if (line.find(file) != std::string::npos && seenAt < 0)
            seenAt = host.IdleCount();
    });
    const uid_t before = FollowLinksOf(::geteuid() + 1);
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(WaitUntil([&] { return host.BalloonCount() == 1 && host.IdleCount() >= 2; }));
    fs::create_symlink(secret, folder + "report.tmp");
    fs::rename(folder + "report.tmp", file);
    ASSERT_TRUE(WaitUntil([&] { return seenAt >= 0 && host.IdleCount() > seenAt; }));
    EXPECT_FALSE(items->FileByPath(folder + "lure.txt"));
    EXPECT_EQ(VersionCount(file), 1);
    for (const auto& e : fs::recursive_directory_iterator(items->BackupRoot()))
        EXPECT_FALSE(e.is_regular_file() && test::ReadFile(e.path().string()) == "private") << e.path();
    items.reset();
    FollowLinksOf(before);
    SetLogSink({});
    EXPECT_EQ(lureLines, 1) << "logged once, though seen by every scan";
}

TEST_F(WatchThreadTest, PlainFolderMarksAMissingMemberBrokenAndTellsTheUser)
{
    const std::string file = folder + "kept.txt";
    Save(file, "x", 1'700'000'000);
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(file);
    auto item = items->Add(r, "");
    item->Start();
    auto watched = items->FolderByPath(folder);
    ASSERT_TRUE(watched);
    watched->UpdateData([](TMonItemRecord& f) { f.FolderWait = 0; });
    ASSERT_TRUE(WaitUntil([&] { return watched->WatchRunning() && host.IdleCount() >= 2; }));

    fs::remove(file);
    Save(folder + "other.txt", "not a member", 1'700'000'000);
    ASSERT_TRUE(WaitUntil([&] { return item->MonStatus() == msBroken; }));
    EXPECT_FALSE(item->Monitored());
    ASSERT_TRUE(WaitUntil([&] { return !host.BoxTexts().empty(); }));
    EXPECT_NE(host.BoxTexts()[0].find(file), std::string::npos);
    EXPECT_FALSE(items->FileByPath(folder + "other.txt")) << "a plain folder takes no new files";
}

TEST_F(WatchThreadTest, RemovingAFolderWhileItsThreadScansIsSafe)
{
    for (int i = 0; i < 300; ++i)
        Save(folder + "f" + std::to_string(i) + ".txt", std::string(1000, 'x'), 1'700'000'000);
    Watchdog dog(std::chrono::seconds(120));
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(WaitUntil([&] { return items->FileCount() > 3; })) << "the first scan is under way";
    const int index = items->FindFolder(folder);
    ASSERT_GE(index, 0);
    items->RemoveFolder(index);
    EXPECT_EQ(items->FindFolder(folder), -1);
    EXPECT_EQ(items->FileCount(), 0) << "members added by the scan go with their folder";
    EXPECT_EQ(watched->WatchThread(), nullptr);
    // Calls the thread queued before it ended run against items that still exist.
    RunQueuedCalls();
    EXPECT_TRUE(fs::exists(folder + "f0.txt")) << "the watched files themselves are never touched";
}

TEST_F(WatchThreadTest, AFailedChangeReaderIsToldOnceAndEndsEveryWatch)
{
    const std::string other = env.Work() + "other/";
    fs::create_directories(other);
    auto first = WatchFolder(true, false, "");
    TMonItemRecord r = EmptyItemRecord();
    r.Path.Set(other);
    r.IsFolder = true;
    r.IsWholeFolder = true;
    items->Add(r, "");
    auto second = items->FolderByPath(other);
    ASSERT_TRUE(
        WaitUntil([&] { return first->WatchRunning() && second->WatchRunning() && host.IdleCount() >= 2; }));

    ChangeNotification::FailReaderForTest(EIO);
    EXPECT_TRUE(WaitUntil([&] { return !first->WatchRunning() && !second->WatchRunning(); }))
        << "no watch sleeps for good";
    ASSERT_TRUE(WaitUntil([&] { return !host.BoxTexts().empty(); }));
    RunQueuedCalls();
    const auto boxes = host.BoxTexts();
    ChangeNotification::StopReader();
    ASSERT_EQ(boxes.size(), 1u) << "once, not once per folder";
    EXPECT_NE(boxes[0].find("no longer noticed"), std::string::npos) << boxes[0];
}

TEST_F(WatchThreadTest, StopWhileTheThreadWaitsOnTheMainThreadDoesNotDeadlock)
{
    Save(folder + "a.txt", "x", 1'700'000'000);
    Watchdog dog(std::chrono::seconds(30));
    // The main thread does not run its queue here: the scan's first step (the busy image)
    // waits for it, and stopping must still join the thread.
    auto watched = WatchFolder(true, false, "");
    ASSERT_NE(watched->WatchThread(), nullptr);
    // Without running the queue: wait until the thread has queued its call and waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (host.Posts.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GT(host.Posts.load(), 0);
    watched->StopWatch();
    EXPECT_EQ(watched->WatchThread(), nullptr);
    EXPECT_FALSE(watched->Monitored());
}

TEST_F(WatchThreadTest, StopWhileTheFolderSettlesEndsTheWaitAtOnce)
{
    auto watched = WatchFolder(true, false, "", false, 60);
    ASSERT_TRUE(ScanDoneAfter(1));
    const int mark = host.IdleCount();
    const int settles = TMonDirThread::SettlesBegun();
    Save(folder + "a.txt", "x", 1'700'000'000);
    ASSERT_TRUE(WaitUntil([&] { return TMonDirThread::SettlesBegun() > settles; }))
        << "the thread takes the event and starts its minute of settling";
    Watchdog dog(std::chrono::seconds(30));
    const auto start = std::chrono::steady_clock::now();
    watched->StopWatch();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(host.IdleCount(), mark) << "no scan after a stop";
}

TEST_F(WatchThreadTest, StopDuringTheAddHandshakeEndsItEarly)
{
    // A monitor that never answers: the handshake would hold the scan for two seconds.
    MessageWindow monitor;
    monitor.SetHandler([](const WindowMessage&) {});
    block.MonitorWnd = monitor.Handle();
    block.MonitorRunning = true;
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(ScanDoneAfter(host.IdleCount()));

    Save(folder + "new.txt", "x", 1'700'000'000);
    ASSERT_TRUE(WaitUntil([&] { return Handshake(block) && items->FileByPath(folder + "new.txt"); }));
    Watchdog dog(std::chrono::seconds(30));
    const auto start = std::chrono::steady_clock::now();
    watched->StopWatch();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500))
        << "a stop ends the handshake wait instead of sitting it out";
    EXPECT_EQ(watched->WatchThread(), nullptr);
}

TEST_F(WatchThreadTest, FolderDeletedWhileWatchedIsReported)
{
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(ScanDoneAfter(1));
    ASSERT_TRUE(watched->WatchRunning());
    fs::remove_all(folder);
    ASSERT_TRUE(WaitUntil([&] { return !host.BoxTexts().empty(); }));
    EXPECT_NE(host.BoxTexts()[0].find(folder), std::string::npos) << host.BoxTexts()[0];
    ASSERT_TRUE(WaitUntil([&] { return !watched->WatchRunning(); })) << "the ended thread is visible";
    watched->StopWatch(); // joins the ended thread without touching anything else
    EXPECT_EQ(watched->WatchThread(), nullptr);
}

TEST_F(WatchThreadTest, WatchThatCannotBeSetUpIsReported)
{
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(ScanDoneAfter(1));
    watched->StopWatch();
    fs::remove_all(folder);
    watched->StartWatch();
    ASSERT_TRUE(WaitUntil([&] { return !host.BoxTexts().empty(); }));
    EXPECT_NE(host.BoxTexts()[0].find(folder), std::string::npos) << host.BoxTexts()[0];
    ASSERT_TRUE(WaitUntil([&] { return !watched->WatchRunning(); }));
}

TEST_F(WatchThreadTest, AScanOfManyNewFilesWritesTheListOnce)
{
    constexpr int kFiles = 30;
    for (int i = 0; i < kFiles; ++i)
        Save(folder + "f" + std::to_string(i) + ".txt", "text " + std::to_string(i), 1'700'000'000 + i);
    // Only the end of the scan writes: the timer is kept out of the way.
    items->ListWriter().SetDelay(std::chrono::hours(1));
    const auto writes = items->ListWriter().ListWrites();
    auto watched = WatchFolder(true, false, "");
    ASSERT_TRUE(WaitUntil([&] { return items->ListWriter().ListWrites() > writes && !items->ListPending(); },
                          std::chrono::seconds(60)));
    EXPECT_EQ(items->ListWriter().ListWrites() - writes, 1u);
    EXPECT_EQ(host.BalloonCount(), static_cast<std::size_t>(kFiles));
    IniFile::ClearCache();
    IniFile list(items->ListFile());
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = folder + "f" + std::to_string(i) + ".txt";
        EXPECT_EQ(list.ReadInteger(path, "VersionNum", 0), 1) << path;
        EXPECT_NE(list.ReadString(path, "LastTime", ""), "") << path << ": its version is recorded";
        EXPECT_EQ(test::ReadFile(items->FileByPath(path)->LastVersionPath()), "text " + std::to_string(i));
    }
}

// A file changed through a hard link outside the folder raises no event in it: only a
// scan of every entry sees that change, so it tells a full rescan from one of the names
// reported.
TEST_F(WatchThreadTest, AChangeRescansOnlyTheNamesReported)
{
    const std::string quiet = folder + "quiet.txt";
    const std::string loud = folder + "loud.txt";
    Save(quiet, "quiet 1", 1'700'000'000);
    Save(loud, "loud 1", 1'700'000'000);
    const std::string link = env.Work() + "quiet-link.txt";
    fs::create_hard_link(quiet, link);
    auto watched = WatchFolder(false, true, "*.txt;");
    ASSERT_TRUE(WaitUntil([&] { return VersionCount(quiet) == 1 && VersionCount(loud) == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return host.IdleCount() >= 2; }));

    auto touchQuietly = [&](const std::string& text, time_t when) {
        std::ofstream(link, std::ios::trunc) << text;
        SetFileTime(link, when);
    };
    touchQuietly("quiet 2", 1'700'000'100);
    int mark = host.IdleCount();
    Save(loud, "loud 2", 1'700'000'100);
    ASSERT_TRUE(WaitUntil([&] { return VersionCount(loud) == 2; }));
    ASSERT_TRUE(ScanDoneAfter(mark));
    EXPECT_EQ(VersionCount(quiet), 1) << "a name nobody reported is not looked at";
}

namespace {

// A limit of the system that keeps folders unwatched: every new watch, or every thread
// start, fails with Err while it is on.
struct LimitCase
{
    const char* Name;
    void (*Fail)(int err); // 0 ends the failures
    int Err;
    std::vector<const char*> Said; // in the box
};

class WatchLimitTest : public WatchThreadTest, public ::testing::WithParamInterface<LimitCase>
{
};

// One box an episode, also for folders that fail while it is up (the starts go on
// meanwhile); every folder shows stopped in the monitor; once one of them is watched
// again, a later failure is a new episode. The agent goes on whatever fails.
TEST_P(WatchLimitTest, IsOneBoxAnEpisodeAndItsFoldersShowStopped)
{
    const LimitCase& c = GetParam();
    std::vector<std::uint32_t> stops;
    MessageWindow monitor;
    monitor.SetHandler([&](const WindowMessage& m) {
        if (m.Msg == block.MessageIds[MsgStop] && m.WParam == 0)
            stops.push_back(m.Msg);
    });
    block.MonitorWnd = monitor.Handle();
    block.MonitorRunning = true;

    constexpr int kFolders = 12;
    std::vector<std::string> paths;
    std::vector<std::shared_ptr<TRKMonFolder>> folders;
    auto failing = [&](int count) {
        c.Fail(c.Err);
        const auto first = static_cast<std::ptrdiff_t>(folders.size());
        for (int i = 0; i < count; ++i) {
            paths.push_back(env.Work() + "f" + std::to_string(paths.size()) + "/");
            fs::create_directories(paths.back());
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set(paths.back());
            r.IsFolder = true;
            r.IsWholeFolder = true;
            items->Add(r, "");
            folders.push_back(items->FolderByPath(paths.back()));
            ASSERT_NE(folders.back(), nullptr);
        }
        ASSERT_TRUE(WaitUntil([&] {
            return std::none_of(folders.begin() + first, folders.end(),
                                [](const auto& f) { return f->WatchRunning(); }) &&
                   stops.size() >= paths.size();
        }));
        c.Fail(0);
        RunQueuedCalls();
    };
    failing(kFolders);
    const auto boxes = host.BoxTexts();
    ASSERT_EQ(boxes.size(), 1u) << "once, not once per folder";
    for (const char* said : c.Said)
        EXPECT_NE(boxes[0].find(said), std::string::npos) << said << " in " << boxes[0];
    EXPECT_NE(boxes[0].find("12 folders"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find(paths[0]), std::string::npos) << boxes[0];
    EXPECT_EQ(static_cast<int>(stops.size()), kFolders) << "every folder shows stopped in the monitor";
    EXPECT_TRUE(folders[0]->Monitored()) << "kept monitored, so a start after the limit is raised watches it";
    failing(3);
    EXPECT_EQ(host.BoxTexts().size(), 1u) << "the same episode";

    // Starting it again once the limit allows it watches the folder.
    const int mark = host.IdleCount();
    folders[0]->StartWatch();
    ASSERT_TRUE(ScanDoneAfter(mark + 1)) << "shown idle at its start and after its first scan";
    EXPECT_TRUE(folders[0]->WatchRunning());
    EXPECT_EQ(host.BoxTexts().size(), 1u);
    failing(1);
    EXPECT_EQ(host.BoxTexts().size(), 2u) << "a new episode";
    folders.back()->StartWatch(); // ends it, for the tests after this one
}

INSTANTIATE_TEST_SUITE_P(
    Limits, WatchLimitTest,
    ::testing::Values(LimitCase{"Watches",
                                &ChangeNotification::FailWatchesForTest,
                                ENOSPC,
                                {"fs.inotify.max_user_watches", "sudo sysctl", "/etc/sysctl.d/"}},
                      LimitCase{"Threads", &WatchThread::FailStartsForTest, EAGAIN, {"ulimit -u"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// The box names the limit that was reached and at most a screenful of folders.
TEST(WatchLimitTextTest, NamesTheLimitAndTheFolders)
{
    struct Case
    {
        int Err;
        int Folders;
        const char* Setting;
        const char* Count;
        bool More;
    };
    for (const Case& c : {Case{ENOSPC, 1, "max_user_watches", "1 folder is", false},
                          Case{EMFILE, 3, "max_user_instances", "3 folders are", false},
                          Case{ENOSPC, 35, "max_user_watches", "35 folders are", true}}) {
        std::vector<std::string> folders;
        for (int i = 0; i < c.Folders; ++i)
            folders.push_back("/home/u/folder-" + std::to_string(i) + "/");
        EXPECT_TRUE(TMonDirThread::IsWatchLimit(c.Err));
        const std::string text = TMonDirThread::WatchLimitText(c.Err, folders);
        EXPECT_NE(text.find(std::string("sysctl fs.inotify.") + c.Setting + "="), std::string::npos) << text;
        EXPECT_NE(text.find(c.Count), std::string::npos) << text;
        EXPECT_NE(text.find(folders.front()), std::string::npos) << text;
        EXPECT_EQ(text.find(folders.back()) != std::string::npos, !c.More) << text;
        EXPECT_EQ(text.find("25 more") != std::string::npos, c.More) << text;
    }
    for (const int err : {ENOENT, EACCES, ENOTDIR})
        EXPECT_FALSE(TMonDirThread::IsWatchLimit(err)) << err;
}

} // namespace
