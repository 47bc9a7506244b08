// The monitor's single-file watch thread.
#include "monitor/TMonDirThread.h"

#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/MonitorHost.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

namespace morvane::test {
namespace {

class TMonDirThreadTest : public ::testing::Test
{
protected:
    TMonDirThreadTest() : items(nullptr, &host, env.Home())
    {
        IniFile::ClearCache();
        file = env.Work() + "watched.txt";
        WriteFile(file, "one");
        SetDate(file, 2024, 3, 5, 9, 7, 2);
        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set(file);
        item = items.Add(record, "240305042");
        host.SetBalloonSink(
            [this](const std::string&, const std::string& text) { balloons.push_back(text); });
    }

    static void SetDate(const std::string& path, int y, int mo, int d, int h, int mi, int s)
    {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        const utimbuf times{std::mktime(&tm), std::mktime(&tm)};
        ASSERT_EQ(utime(path.c_str(), &times), 0);
    }

    std::string CopyFolder(const std::string& name) const
    {
        return env.Home() + "backup/240305042/" + name + "/";
    }

    TestEnv env;
    monitor::MonitorHost host;
    TRKMonItems items;
    std::shared_ptr<TRKMonItem> item;
    std::string file;
    std::vector<std::string> balloons;
};

TEST_F(TMonDirThreadTest, CopyFolderNamesCarryDateAndTime)
{
    EXPECT_EQ(monitor::TMonDirThread::CopyFolderName(EncodeOleDate(2024, 3, 5, 9, 7, 2)),
              "2024-03-05 9-07-02");
    EXPECT_EQ(monitor::TMonDirThread::CopyFolderName(EncodeOleDate(2024, 12, 31)), "2024-12-31");
}

TEST_F(TMonDirThreadTest, CopiesAtOnceAndAfterEveryChange)
{
    {
        monitor::TMonDirThread thread(*item);
        // The first copy is made before the thread starts.
        EXPECT_EQ(ReadFile(CopyFolder("2024-03-05 9-07-02") + "watched.txt"), "one");
        EXPECT_EQ(item->LastTime(), *FileDate(file));
        EXPECT_EQ(balloons, std::vector<std::string>{file});

        WriteFile(file, "two");
        SetDate(file, 2024, 3, 6, 0, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return FileExists(CopyFolder("2024-03-06") + "watched.txt"); }));
        EXPECT_TRUE(WaitUntil([&] { return item->LastTime() == *FileDate(file); }));
        EXPECT_EQ(ReadFile(CopyFolder("2024-03-06") + "watched.txt"), "two");
        EXPECT_FALSE(thread.Finished());
    }
    // The list was saved with the new date.
    IniFile::ClearCache();
    TMonItemRecord stored = EmptyItemRecord();
    stored.Path.Set(file);
    ReadItemRecord(stored, items.ListFile(), env.Home() + "backup/");
    EXPECT_EQ(stored.LastTime, *FileDate(file));
}

TEST_F(TMonDirThreadTest, CopiesArePrivateWhateverTheUmaskAndReplaceAnOlderCopyWhole)
{
    auto mode = [](const std::string& path) {
        struct stat st = {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    ::chmod(file.c_str(), 0644);
    const mode_t old = ::umask(0);
    {
        monitor::TMonDirThread thread(*item);
    }
    ::umask(old);
    const std::string copy = CopyFolder("2024-03-05 9-07-02") + "watched.txt";
    EXPECT_EQ(mode(copy), 0400u);

    // A copy of that second from an earlier run (LastTime not saved): replaced, read-only.
    ::chmod(copy.c_str(), 0640);
    WriteFile(copy, "an older state");
    item->UpdateData([](TMonItemRecord& r) { r.LastTime = 0; });
    {
        monitor::TMonDirThread thread(*item);
    }
    EXPECT_EQ(ReadFile(copy), "one");
    EXPECT_EQ(mode(copy), 0400u);
    EXPECT_EQ(ListDir(CopyFolder("2024-03-05 9-07-02")).size(), 1u);
}

TEST_F(TMonDirThreadTest, AnUnchangedDateMakesNoCopy)
{
    item->UpdateData([&](TMonItemRecord& r) { r.LastTime = *FileDate(file); });
    monitor::TMonDirThread thread(*item);
    EXPECT_FALSE(DirectoryExists(env.Home() + "backup/240305042/"));
    EXPECT_TRUE(balloons.empty());
}

TEST_F(TMonDirThreadTest, StopEndsTheThreadPromptly)
{
    monitor::TMonDirThread thread(*item);
    thread.RequestStop();
    thread.Join();
    EXPECT_TRUE(thread.Finished());
}

TEST_F(TMonDirThreadTest, AWatchThatCannotBeSetUpReachesTheCaller)
{
    std::filesystem::remove_all(env.Work());
    EXPECT_THROW(monitor::TMonDirThread thread(*item), std::system_error);
}

TEST_F(TMonDirThreadTest, AFolderThatGoesAwayEndsTheThread)
{
    monitor::TMonDirThread thread(*item);
    std::filesystem::remove_all(env.Work());
    EXPECT_TRUE(WaitUntil([&] { return thread.Finished(); }));
}

} // namespace
} // namespace morvane::test
