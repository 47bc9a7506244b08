// The INI cache and several writers: threads of this process and other processes.
#include "common/TestSupport.h"
#include "platform/IniFile.h"

#include <QProcess>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvane {
namespace {

using test::ReadFile;
using test::WriteFile;

class IniSharingTest : public ::testing::Test
{
protected:
    void SetUp() override { IniFile::ClearCache(); }
    void TearDown() override { IniFile::ClearCache(); }

    static QStringList Args(std::initializer_list<std::string> args)
    {
        QStringList list;
        for (const std::string& a : args)
            list << QString::fromStdString(a);
        return list;
    }
    // Starts the helper; the caller waits for it.
    static void Start(QProcess& p, std::initializer_list<std::string> args)
    {
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QString::fromStdString(test::HelperPath("ini_child")), Args(args));
        ASSERT_TRUE(p.waitForStarted(10000));
    }
    static void Finish(QProcess& p)
    {
        ASSERT_TRUE(p.state() == QProcess::NotRunning || p.waitForFinished(120000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }
    static void Run(std::initializer_list<std::string> args)
    {
        QProcess p;
        Start(p, args);
        Finish(p);
    }

    test::TestEnv m_env;
    std::string m_path = m_env.Work() + "list.ini";
};

TEST_F(IniSharingTest, CacheServesAnUnchangedFile)
{
    WriteFile(m_path, "[S]\nk=aaaa\n");
    EXPECT_EQ(IniFile(m_path).ReadString("S", "k", ""), "aaaa");

    // Change the bytes in place, keeping inode, size and modification time: only a reader
    // that parsed the file again could see it.
    struct stat before = {};
    ASSERT_EQ(::stat(m_path.c_str(), &before), 0);
    {
        const int fd = ::open(m_path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "bbbb", 4, 6), 4);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    EXPECT_EQ(IniFile(m_path).ReadString("S", "k", ""), "aaaa");
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(m_path).ReadString("S", "k", ""), "bbbb");
}

TEST_F(IniSharingTest, CacheFollowsRewritesByAnotherProcess)
{
    IniFile reader(m_path);
    EXPECT_EQ(reader.ReadString("S", "k", "none"), "none");
    // The same size every time and, as within one timestamp tick, the same modification
    // time: only the file's identity tells the versions apart.
    struct timespec tick[2] = {{0, UTIME_OMIT}, {0, 0}};
    for (const char* value : {"v1", "v2", "v3", "v4"}) {
        Run({"set", m_path, "S", "k", value});
        struct stat st = {};
        ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
        if (tick[1].tv_sec == 0)
            tick[1] = st.st_mtim;
        ASSERT_EQ(::utimensat(AT_FDCWD, m_path.c_str(), tick, 0), 0);
        EXPECT_EQ(reader.ReadString("S", "k", ""), value);
        EXPECT_EQ(IniFile(m_path).ReadString("S", "k", ""), value);
    }
    // And by this process, through another object.
    {
        IniFile writer(m_path);
        writer.WriteString("S", "k", "v5");
    }
    EXPECT_EQ(reader.ReadString("S", "k", ""), "v5");
}

TEST_F(IniSharingTest, AReadScopeKeepsOneStateAndLetsItGoAtItsEnd)
{
    Run({"set", m_path, "S", "k", "v1"});
    IniFile reader(m_path);
    const std::shared_ptr<const void> first = reader.FileState();
    EXPECT_EQ(reader.FileState(), first) << "an unchanged file keeps its state";
    {
        const IniFile::ReadScope scope(reader);
        EXPECT_EQ(reader.ReadString("S", "k", ""), "v1");
        Run({"set", m_path, "S", "other", "o"});
        // One record read key by key is never a mix of two versions of the file.
        EXPECT_EQ(reader.ReadString("S", "other", "none"), "none");
        reader.WriteString("S", "mine", "m");
        EXPECT_EQ(reader.ReadString("S", "mine", ""), "m");
        // A flush in the scope moves on to the state it wrote, the other writer's key too.
        reader.Flush();
        EXPECT_EQ(reader.ReadString("S", "other", ""), "o");
        EXPECT_EQ(reader.ReadString("S", "mine", ""), "m");
    }
    EXPECT_NE(reader.FileState(), first);
    const std::shared_ptr<const void> written = reader.FileState();
    Run({"set", m_path, "S", "k", "v2"});
    EXPECT_NE(reader.FileState(), written);
    EXPECT_EQ(reader.ReadString("S", "k", ""), "v2") << "after the scope every read looks again";
}

TEST_F(IniSharingTest, PendingChangesMergeWithAnotherWritersChanges)
{
    WriteFile(m_path, "[Item]\nkeep=1\nshared=old\n");
    IniFile mine(m_path);
    EXPECT_EQ(mine.ReadString("Item", "shared", ""), "old");
    mine.WriteString("Item", "mine", "m");
    mine.WriteString("Item", "shared", "mine wins");
    mine.EraseSection("Gone");

    Run({"set", m_path, "Item", "theirs", "t"});
    Run({"set", m_path, "Item", "shared", "theirs"});
    Run({"set", m_path, "Gone", "k", "v"});
    Run({"set", m_path, "Other", "k", "v"});
    mine.Flush();

    IniFile::ClearCache();
    IniFile check(m_path);
    EXPECT_EQ(check.ReadString("Item", "keep", ""), "1");
    EXPECT_EQ(check.ReadString("Item", "theirs", ""), "t");
    EXPECT_EQ(check.ReadString("Item", "mine", ""), "m");
    EXPECT_EQ(check.ReadString("Item", "shared", ""), "mine wins");
    EXPECT_FALSE(check.SectionExists("Gone"));
    EXPECT_EQ(check.ReadString("Other", "k", ""), "v");
}

TEST_F(IniSharingTest, ConcurrentWritersLoseNoUpdate)
{
    constexpr int kRounds = 150;
    QProcess a;
    QProcess b;
    Start(a, {"count", m_path, "a", std::to_string(kRounds)});
    Start(b, {"count", m_path, "b", std::to_string(kRounds)});
    // Threads of this process write the same file meanwhile.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (const char* key : {"c", "d"}) {
        threads.emplace_back([path = m_path, key = std::string(key), &failures] {
            for (int i = 0; i < kRounds; ++i) {
                try {
                    IniFile ini(path);
                    ini.WriteInteger("Counters", key, ini.ReadInteger("Counters", key, 0) + 1);
                    ini.Flush();
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    Finish(a);
    Finish(b);
    EXPECT_EQ(failures.load(), 0);
    IniFile::ClearCache();
    IniFile ini(m_path);
    for (const char* key : {"a", "b", "c", "d"})
        EXPECT_EQ(ini.ReadInteger("Counters", key, 0), kRounds) << key;
    EXPECT_EQ(ini.ReadKeys("Counters").size(), 4u);
}

TEST_F(IniSharingTest, ReaderNeverSeesHalfAFile)
{
    constexpr int kSections = 200;
    QProcess writer;
    Start(writer, {"rewrite", m_path, "400", std::to_string(kSections)});

    int whole = 0;
    int torn = 0;
    const bool ended = test::WaitUntil(
        [&] {
            const std::string text = ReadFile(m_path);
            if (!text.empty()) {
                const std::size_t end = text.rfind("[End]\nRound=");
                const std::string round =
                    end == std::string::npos ? "?" : text.substr(end + 12, text.size() - end - 13);
                const std::string mark = "Round=" + round + "\n";
                std::size_t count = 0;
                for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
                    ++count;
                if (end != std::string::npos && text.back() == '\n' && count == kSections + 1)
                    ++whole;
                else
                    ++torn;
                // Through the INI module as well, with a fresh parse each time.
                IniFile::ClearCache();
                if (IniFile(m_path).ReadSections().size() != kSections + 1)
                    ++torn;
            }
            return writer.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(120));
    ASSERT_TRUE(ended);
    Finish(writer);
    EXPECT_EQ(torn, 0);
    EXPECT_GT(whole, 5);
    EXPECT_EQ(IniFile(m_path).ReadInteger("End", "Round", 0), 400);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_env.Work()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(IniSharingTest, ManyRecordsAreWrittenByOneFlushAndReadFromOneParse)
{
    constexpr int kSections = 2000;
    {
        IniFile ini(m_path);
        for (int s = 0; s < kSections; ++s) {
            for (int k = 0; k < 28; ++k)
                ini.WriteInteger("/files/" + std::to_string(s), "Key" + std::to_string(k), s * 100 + k);
        }
        EXPECT_EQ(ini.ReadInteger("/files/1999", "Key27", 0), 199927); // pending
        EXPECT_FALSE(std::filesystem::exists(m_path));
        ini.Flush();
    }
    // Mark the cached parse: an in-place change that keeps the signature stays unseen while
    // every read is served from the one parse made by the flush.
    struct stat before = {};
    ASSERT_EQ(::stat(m_path.c_str(), &before), 0);
    const std::string text = ReadFile(m_path);
    const std::size_t at = text.find("Key0=0\n");
    ASSERT_NE(at, std::string::npos);
    {
        const int fd = ::open(m_path.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "9", 1, static_cast<off_t>(at + 5)), 1);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ::futimens(fd, times);
        ::close(fd);
    }
    for (int s = 0; s < kSections; ++s) {
        IniFile ini(m_path); // one object per record, as the item loader does
        for (int k = 0; k < 28; ++k)
            ASSERT_EQ(ini.ReadInteger("/files/" + std::to_string(s), "Key" + std::to_string(k), -1),
                      s * 100 + k);
    }
}

} // namespace
} // namespace morvane
