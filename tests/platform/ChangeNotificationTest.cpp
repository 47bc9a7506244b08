#include "platform/ChangeNotification.h"

#include "common/TestSupport.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace morvane;
using Result = ChangeNotification::WaitResult;
using std::chrono::milliseconds;

namespace {

// The kernel queues an event before the causing call returns, so a zero wait is exact.
constexpr milliseconds kNow{0};
constexpr milliseconds kLong{5000};

class ChangeNotificationTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string dir = env.Work() + "watched/";
    void SetUp() override
    {
        test::WriteFile(dir + "a.txt", "one");
        test::WriteFile(dir + "b.txt", "two");
    }
};

using Action = void (*)(const std::string& dir);
class ChangeKinds : public ChangeNotificationTest, public ::testing::WithParamInterface<Action>
{
};

TEST_P(ChangeKinds, WakeOnceForTheWholeBurst)
{
    ChangeNotification watch(dir);
    GetParam()(dir);
    EXPECT_EQ(watch.Wait(kLong), Result::Changed);
    EXPECT_EQ(watch.Wait(kNow), Result::Timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Folder, ChangeKinds,
    ::testing::Values([](const std::string& d) { test::WriteFile(d + "new.txt", "x"); },
                      [](const std::string& d) { test::WriteFile(d + "a.txt", "changed"); },
                      [](const std::string& d) { std::rename((d + "a.txt").c_str(), (d + "c").c_str()); },
                      [](const std::string& d) { ::chmod((d + "a.txt").c_str(), 0600); },
                      [](const std::string& d) { ::unlink((d + "b.txt").c_str()); }),
    test::RowNames({"Created", "Modified", "Renamed", "ModeChanged", "Deleted"}));

TEST_F(ChangeNotificationTest, OwnReadsDoNotWake)
{
    ChangeNotification watch(dir);
    EXPECT_EQ(test::ReadFile(dir + "a.txt"), "one");
    EXPECT_EQ(watch.Wait(kNow), Result::Timeout);
}

TEST_F(ChangeNotificationTest, StopEndsAWaitFromAnotherThreadForGood)
{
    ChangeNotification watch(dir);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = static_cast<int>(watch.Wait()); });
    watch.RequestStop();
    const bool ended = test::WaitUntil([&] { return result != -1; });
    if (!ended)
        test::WriteFile(dir + "unblock", "x"); // so the test reports instead of hanging
    waiter.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(result, static_cast<int>(Result::Stopped));
    test::WriteFile(dir + "later.txt", "x");
    EXPECT_EQ(watch.Wait(kNow), Result::Stopped);
}

TEST_F(ChangeNotificationTest, QueueOverflowCountsAsOneChange)
{
    const int max = std::stoi(test::ReadFile("/proc/sys/fs/inotify/max_queued_events"));
    if (max > 200000)
        GTEST_SKIP() << "inotify queue too large to overflow";
    ChangeNotification watch(dir);
    // Two files in turn, so the kernel cannot merge neighbouring events.
    for (int i = 0; i <= max / 2 + 10; ++i) {
        ::chmod((dir + "a.txt").c_str(), i % 2 ? 0600 : 0644);
        ::chmod((dir + "b.txt").c_str(), i % 2 ? 0600 : 0644);
    }
    EXPECT_EQ(watch.Wait(kLong), Result::Changed);
    EXPECT_EQ(watch.Wait(kNow), Result::Timeout);
}

TEST_F(ChangeNotificationTest, DeletedOrMovedFolderFailsForGood)
{
    for (const bool remove : {true, false}) {
        ChangeNotification watch(dir);
        if (remove)
            std::filesystem::remove_all(dir);
        else
            std::filesystem::rename(dir, env.Work() + "moved");
        errno = 0;
        EXPECT_EQ(watch.Wait(kLong), Result::Failed) << remove;
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(watch.Wait(kNow), Result::Failed);
        std::filesystem::create_directories(dir);
    }
}

TEST_F(ChangeNotificationTest, UnwatchableFolderThrowsNamingIt)
{
    for (const auto& [path, err] :
         {std::pair{env.Work() + "missing/", ENOENT}, std::pair{dir + "a.txt", ENOTDIR}}) {
        try {
            ChangeNotification watch(path);
            ADD_FAILURE() << path;
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), err);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
        }
    }
}

// An editor's temporary file, unlinked while still open: what is written to it later
// concerns no name in the folder and wakes nobody.
TEST_F(ChangeNotificationTest, WritingAnUnlinkedOpenFileDoesNotWake)
{
    const std::string temp = dir + ".edit.tmp";
    const int fd = ::open(temp.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ChangeNotification watch(dir);
    ASSERT_EQ(::unlink(temp.c_str()), 0);
    EXPECT_EQ(watch.Wait(kNow), Result::Changed) << "the unlink itself is a change";
    EXPECT_EQ(::write(fd, "text", 4), 4);
    ::close(fd);
    EXPECT_EQ(watch.Wait(kNow), Result::Timeout);
}

} // namespace

namespace {

// More folders than the kernel's per-user inotify instances (128 by default): each
// watch still wakes only for its own folder.
TEST_F(ChangeNotificationTest, ManyFoldersEachWakeForTheirOwnChanges)
{
    constexpr int kFolders = 300;
    std::vector<std::unique_ptr<ChangeNotification>> watches;
    for (int i = 0; i < kFolders; ++i) {
        const std::string folder = env.Work() + "many/" + std::to_string(i) + "/";
        std::filesystem::create_directories(folder);
        watches.push_back(std::make_unique<ChangeNotification>(folder));
    }
    test::WriteFile(env.Work() + "many/7/x", "x");
    test::WriteFile(env.Work() + "many/299/y", "y");
    EXPECT_EQ(watches[7]->Wait(kLong), Result::Changed);
    EXPECT_EQ(watches[299]->Wait(kLong), Result::Changed);
    for (int i = 0; i < kFolders; ++i)
        EXPECT_EQ(watches[i]->Wait(kNow), Result::Timeout) << i;
}

// Two watches of one folder share the kernel's watch; ending one leaves the other working.
TEST_F(ChangeNotificationTest, TwoWatchesOfOneFolderAreIndependent)
{
    auto first = std::make_unique<ChangeNotification>(dir);
    ChangeNotification second(dir);
    first.reset();
    test::WriteFile(dir + "new.txt", "x");
    EXPECT_EQ(second.Wait(kLong), Result::Changed);
}

} // namespace

namespace {

TEST(TreeChangeNotificationTest, SubfolderLossIsAChangeButRootLossFails)
{
    test::TestEnv env;
    const std::string root = env.Work() + "tree/";
    std::filesystem::create_directories(root + "a/b");
    ChangeNotification tree = ChangeNotification::ForTree(root, true, ChangeNotification::kAllChanges);
    test::WriteFile(root + "a/b/deep.txt", "x");
    EXPECT_EQ(tree.Wait(kNow), Result::Changed);
    std::filesystem::remove_all(root + "a");
    EXPECT_EQ(tree.Wait(kNow), Result::Changed);
    EXPECT_EQ(tree.Wait(kNow), Result::Timeout);
    std::filesystem::remove_all(root);
    EXPECT_EQ(tree.Wait(kLong), Result::Failed);
}

// A subfolder that became a link to a folder outside the tree after it was listed: the
// watch never follows it there.
TEST(TreeChangeNotificationTest, ASubfolderThatIsALinkIsNotFollowed)
{
    test::TestEnv env;
    const std::string root = env.Work() + "tree/";
    const std::string outside = env.Work() + "outside/";
    test::WriteFile(outside + "x.txt", "x");
    std::filesystem::create_directories(root);
    ASSERT_EQ(::symlink(outside.c_str(), (root + "sub").c_str()), 0);
    ChangeNotification watch({root, root + "sub"}, ChangeNotification::kAllChanges);
    test::WriteFile(outside + "y.txt", "y");
    EXPECT_EQ(watch.Wait(kNow), Result::Timeout);
}

TEST(TreeChangeNotificationTest, FilterSelectsKindsOfChange)
{
    test::TestEnv env;
    const std::string root = env.Work();
    test::WriteFile(root + "file.txt", "x");
    ChangeNotification names({root}, ChangeNotification::kDirNameChange);
    ChangeNotification writes({root}, ChangeNotification::kLastWriteChange);
    test::WriteFile(root + "file.txt", "longer");
    EXPECT_EQ(names.Wait(kNow), Result::Timeout);
    EXPECT_EQ(writes.Wait(kNow), Result::Changed);
    std::filesystem::create_directory(root + "dir");
    EXPECT_EQ(names.Wait(kNow), Result::Changed);
    EXPECT_EQ(writes.Wait(kNow), Result::Timeout);
}

} // namespace

TEST_F(ChangeNotificationTest, ChangesNameWhatWasReportedOrSayAllWhenThatIsNotKnown)
{
    ChangeNotification watch(dir);
    EXPECT_TRUE(watch.TakeChanges().All) << "a new watch has not seen what came before it";

    test::WriteFile(dir + "c.txt", "new");
    test::WriteFile(dir + "a.txt", "once");
    test::WriteFile(dir + "a.txt", "twice");
    ChangeNotification::Changes changes = watch.TakeChanges();
    EXPECT_FALSE(changes.All);
    EXPECT_EQ(changes.Names, (std::vector<std::string>{"c.txt", "a.txt"}));
    EXPECT_TRUE(watch.TakeChanges().Names.empty()) << "taken once";

    std::filesystem::rename(dir + "b.txt", env.Work() + "b.txt");
    EXPECT_EQ(watch.TakeChanges().Names, std::vector<std::string>{"b.txt"}) << "a name moved away";

    // More names than are kept: the changes are no longer known one by one.
    for (std::size_t i = 0; i <= ChangeNotification::kMaxNames; ++i)
        ::close(::creat((dir + "n" + std::to_string(i)).c_str(), 0644));
    changes = watch.TakeChanges();
    EXPECT_TRUE(changes.All);
    EXPECT_TRUE(changes.Names.empty());
}

// The process's reader: it fails visibly, and it can be joined and started again.
TEST_F(ChangeNotificationTest, AFailedReaderEndsEveryWaitAndRefusesNewWatchesUntilStopped)
{
    ChangeNotification first(dir);
    ChangeNotification second(dir);
    std::atomic<int> blocked{-1};
    std::thread waiter([&] {
        // A wait without timeout: only the reader can end it.
        blocked = first.Wait() == Result::Failed ? errno : 0;
    });
    ChangeNotification::FailReaderForTest(EIO);
    waiter.join();
    EXPECT_EQ(blocked.load(), EIO) << "the waiter learns why";
    EXPECT_EQ(second.Wait(kLong), Result::Failed);
    EXPECT_EQ(ChangeNotification::ReaderFailure(), EIO);
    EXPECT_THROW(ChangeNotification{dir}, std::system_error);
    EXPECT_TRUE(ChangeNotification::TakeReaderFailureReport());
    EXPECT_FALSE(ChangeNotification::TakeReaderFailureReport()) << "told once";

    ChangeNotification::StopReader();
    EXPECT_EQ(ChangeNotification::ReaderFailure(), 0);
    ChangeNotification again(dir);
    std::thread writer([&] { test::WriteFile(dir + "late.txt", "x"); });
    EXPECT_EQ(again.Wait(kLong), Result::Changed);
    writer.join();
}

TEST_F(ChangeNotificationTest, StoppingTheReaderJoinsItAndAWatchStartsItAgain)
{
    {
        ChangeNotification watch(dir);
    }
    ChangeNotification::StopReader();
    ChangeNotification::StopReader(); // a second stop finds nothing to join
    ChangeNotification watch(dir);
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = watch.Wait() == Result::Changed; });
    test::WriteFile(dir + "new.txt", "x");
    waiter.join();
    EXPECT_TRUE(woke.load()) << "a wait without timeout is woken by the new reader";
}
