#include "platform/FileCopy.h"

#include "common/TestSupport.h"
#include "platform/DirListing.h"

#include <QProcess>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <thread>

using namespace morvane;

namespace {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::mt19937 rng(seed);
    for (char& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

class FileCopyTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string src = env.Work() + "source.doc";
    std::string out = env.Work() + "v/";
    std::string dst = out + "source.doc";

    void SetUp() override { ASSERT_TRUE(MakeDirs(out)); }

    // Names in the target folder other than the target itself.
    std::vector<std::string> Others()
    {
        std::vector<std::string> names;
        for (const auto& e : ListDir(out))
            if (e.Name != "source.doc")
                names.push_back(e.Name);
        return names;
    }
};

TEST_F(FileCopyTest, CopiesBytesAndDate)
{
    const std::string content = RandomBytes(3 * 1024 * 1024 + 17, 7);
    test::WriteFile(src, content);
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);

    const CopyResult r = CopyFileSafely(src, dst);
    ASSERT_EQ(r.Status, CopyStatus::Ok) << r.Error;
    EXPECT_EQ(r.Size, static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(test::ReadFile(dst), content);
    struct stat st = {};
    ::stat(dst.c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_TRUE(Others().empty());
}

TEST_F(FileCopyTest, CopiesAcrossFileSystems)
{
    // The in-kernel copy refuses to cross file systems; the byte copy takes over.
    char shm[] = "/dev/shm/mvt-XXXXXX";
    if (!::mkdtemp(shm))
        GTEST_SKIP() << "no /dev/shm";
    const std::string content = RandomBytes(1536 * 1024, 5);
    test::WriteFile(std::string(shm) + "/f", content);
    const CopyResult r = CopyFileSafely(std::string(shm) + "/f", dst);
    std::filesystem::remove_all(shm);
    ASSERT_EQ(r.Status, CopyStatus::Ok) << r.Error;
    EXPECT_EQ(test::ReadFile(dst), content);
}

TEST_F(FileCopyTest, RefusalsLeaveNothingBehind)
{
    EXPECT_EQ(CopyFileSafely(src, dst).Status, CopyStatus::SourceMissing);
    EXPECT_EQ(CopyFileSafely(env.Work(), dst).Status, CopyStatus::NotRegular);
    test::WriteFile(src, "new");
    EXPECT_EQ(CopyFileSafely(src, env.Work() + "absent/x").Error, ENOENT);
    test::WriteFile(dst, "older version");
    EXPECT_EQ(CopyFileSafely(src, dst).Status, CopyStatus::TargetExists);
    EXPECT_EQ(test::ReadFile(dst), "older version");
    EXPECT_TRUE(Others().empty());
}

TEST_F(FileCopyTest, FifoIsRefusedWithoutBlocking)
{
    ASSERT_EQ(::mkfifo(src.c_str(), 0600), 0);
    std::atomic<int> status{-1};
    std::atomic<bool> compared{false};
    std::thread copier([&] {
        status = static_cast<int>(CopyFileSafely(src, dst).Status);
        compared = !FilesEqual(src, src).has_value();
    });
    const bool ended = test::WaitUntil([&] { return compared.load(); });
    if (!ended) { // release a blocked open so the test reports instead of hanging
        for (int i = 0; i < 2; ++i)
            ::close(::open(src.c_str(), O_WRONLY | O_NONBLOCK));
    }
    copier.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(status, static_cast<int>(CopyStatus::NotRegular));
    EXPECT_FALSE(FileExists(dst));
}

TEST_F(FileCopyTest, SourceChangedWhileCopiedIsCopiedAgain)
{
    test::WriteFile(src, "first");
    int calls = 0;
    auto append = [&](int attempt) {
        ++calls;
        if (attempt == 1)
            std::ofstream(src, std::ios::app) << " second";
    };
    ASSERT_EQ(CopyFileSafely(src, dst, 3, append).Status, CopyStatus::Ok);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(test::ReadFile(dst), "first second");

    // Saved by rename: the name now leads to another file.
    auto replace = [&](int attempt) {
        if (attempt == 1) {
            test::WriteFile(src + ".tmp", "third");
            std::rename((src + ".tmp").c_str(), src.c_str());
        }
    };
    ASSERT_EQ(CopyFileSafely(src, out + "b", 3, replace).Status, CopyStatus::Ok);
    EXPECT_EQ(test::ReadFile(out + "b"), "third");

    auto always = [&](int) {
        std::ofstream(src, std::ios::app) << "y";
    };
    EXPECT_EQ(CopyFileSafely(src, out + "c", 2, always).Status, CopyStatus::Changed);
    EXPECT_FALSE(FileExists(out + "c"));
    EXPECT_EQ(Others().size(), 1u); // only "b"
}

TEST_F(FileCopyTest, KilledCopyLeavesNoPartialTarget)
{
    {
        std::ofstream big(src, std::ios::binary);
        for (unsigned i = 0; i < 128; ++i)
            big << RandomBytes(1 << 20, i);
    }
    QProcess child;
    child.start(QString::fromStdString(test::HelperPath("copy_child")),
                {QString::fromStdString(src), QString::fromStdString(dst)});
    ASSERT_TRUE(child.waitForStarted());
    // Kill it once its temporary file exists (or it has finished).
    test::WaitUntil([&] { return !Others().empty() || child.state() == QProcess::NotRunning; });
    child.kill();
    child.waitForFinished();

    if (FileExists(dst)) {
        EXPECT_EQ(FilesEqual(src, dst), std::optional<bool>(true));
    }
    for (const std::string& name : Others())
        EXPECT_TRUE(IsCopyLeftover(out, name)) << name;
    RemoveFile(dst);
    EXPECT_EQ(CopyFileSafely(src, dst).Status, CopyStatus::Ok);
}

struct LeftoverCase
{
    const char* Name;
    // Makes the entry in folder under name, the name a killed copy's leftover has there.
    std::function<void(const std::string& folder, const std::string& name)> Make;
    bool Leftover; // told apart as the leftover of a copy
    bool Removed;  // and removed when asked
};

// A killed copy leaves one folder of its own; nothing a user can own under that name
// (a file, a link) is ever taken for it, and a folder of that name holding a folder is
// not ours to remove.
TEST_F(FileCopyTest, OnlyAKilledCopysStagingFolderIsALeftover)
{
    test::WriteFile(src, RandomBytes(100 * 1024, 9));
    auto killedCopy = [&](const std::string& folder) {
        const int exit = QProcess::execute(
            QString::fromStdString(test::HelperPath("copy_child")),
            {QString::fromStdString(src), QString::fromStdString(folder + "x.doc"), "crash"});
        EXPECT_EQ(exit, 0);
    };
    // The name a leftover has: a killed copy shows it.
    killedCopy(out);
    ASSERT_EQ(Others().size(), 1u);
    const std::string leftoverName = Others().front();
    RemoveCopyLeftover(out + leftoverName);

    const LeftoverCase cases[] = {
        {"a killed copy's staging folder", [&](const std::string& f, const std::string&) { killedCopy(f); },
         true, true},
        {"a user's file of that name",
         [](const std::string& f, const std::string& n) { test::WriteFile(f + n, "a user's file"); }, false,
         false},
        {"a link to a folder of that name",
         [](const std::string& f, const std::string& n) {
             ASSERT_TRUE(MakeDirs(f + "elsewhere/" + n));
             ASSERT_EQ(::symlink((f + "elsewhere/" + n).c_str(), (f + n).c_str()), 0);
         },
         false, false},
        {"a folder of that name holding a folder",
         [](const std::string& f, const std::string& n) { ASSERT_TRUE(MakeDirs(f + n + "/inner")); }, true,
         false},
    };
    int round = 0;
    for (const LeftoverCase& c : cases) {
        const std::string folder = env.Work() + "case" + std::to_string(++round) + "/";
        ASSERT_TRUE(MakeDirs(folder));
        c.Make(folder, leftoverName);
        std::string name = leftoverName;
        for (const DirEntry& e : ListDir(folder))
            if (e.Name != "elsewhere")
                name = e.Name;
        EXPECT_EQ(IsCopyLeftover(folder, name), c.Leftover) << c.Name;
        EXPECT_EQ(RemoveCopyLeftover(folder + name), c.Removed) << c.Name;
        EXPECT_EQ(std::filesystem::exists(folder + name), !c.Removed) << c.Name;
    }
}

// A copy killed before it is named leaves no name of the target's in either staging: a
// staging folder (told apart as a leftover), or, from an unnamed file, nothing at all.
// The next copy of either kind is made whole.
TEST_F(FileCopyTest, AKilledCopyLeavesAStagingFolderOrNothing)
{
    test::WriteFile(src, RandomBytes(300 * 1024, 5));
    const int probe = ::open(out.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool unnamedHere = probe >= 0;
    if (probe >= 0)
        ::close(probe);
    struct KillCase
    {
        const char* Name;
        AtomicFile::Staging Staging;
        std::size_t Left; // entries the kill leaves in the folder
    };
    const KillCase cases[] = {
        {"staging folder", AtomicFile::Staging::Folder, 1},
        {"unnamed file", AtomicFile::Staging::Unnamed, unnamedHere ? 0u : 1u},
    };
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QStringList args{QString::fromStdString(src), QString::fromStdString(dst), "crash"};
        if (c.Staging == AtomicFile::Staging::Unnamed)
            args << "unnamed";
        ASSERT_EQ(QProcess::execute(QString::fromStdString(test::HelperPath("copy_child")), args), 0);
        EXPECT_FALSE(std::filesystem::exists(dst));
        ASSERT_EQ(Others().size(), c.Left);
        for (const std::string& name : Others()) {
            EXPECT_TRUE(IsCopyLeftover(out, name)) << name;
            EXPECT_TRUE(RemoveCopyLeftover(out + name)) << name;
        }

        CopyOptions options;
        options.Staging = c.Staging;
        options.Mode = 0400;
        const CopyResult r = CopyFileSafely(src, dst, options);
        ASSERT_EQ(r.Status, CopyStatus::Ok) << r.Error;
        EXPECT_EQ(FilesEqual(src, dst), std::optional<bool>(true));
        struct stat st = {};
        ASSERT_EQ(::stat(dst.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0400u);
        EXPECT_EQ(r.ModTimeNs,
                  static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        EXPECT_TRUE(Others().empty());
        ::chmod(dst.c_str(), 0600);
        RemoveFile(dst);
    }
}

struct CompareCase
{
    const char* Name;
    std::function<std::string(std::string)> Reference; // from the source's bytes; "-": none
    CopyStatus Status;
};

TEST_F(FileCopyTest, ACopyComparedAsItIsMadeIsThrownAwayOnlyWhenEveryByteMatches)
{
    // Past one piece of the comparison, so the pieces after the first count too.
    const std::string content = RandomBytes(2 * 1024 * 1024 + 9, 3);
    const CompareCase cases[] = {
        {"the same bytes", [](std::string s) { return s; }, CopyStatus::Same},
        {"the last byte differs",
         [](std::string s) {
             s.back() ^= 1;
             return s;
         },
         CopyStatus::Ok},
        {"the first byte differs",
         [](std::string s) {
             s.front() ^= 1;
             return s;
         },
         CopyStatus::Ok},
        {"one byte longer", [](std::string s) { return s + "x"; }, CopyStatus::Ok},
        {"no reference", [](std::string) { return std::string("-"); }, CopyStatus::Ok},
    };
    test::WriteFile(src, content);
    for (const CompareCase& c : cases) {
        const std::string reference = env.Work() + "last.doc";
        RemoveFile(reference);
        const std::string bytes = c.Reference(content);
        if (bytes != "-")
            test::WriteFile(reference, bytes);
        CopyOptions options;
        options.CompareWith = reference;
        const CopyResult r = CopyFileSafely(src, dst, options);
        EXPECT_EQ(r.Status, c.Status) << c.Name;
        if (c.Status == CopyStatus::Ok)
            EXPECT_EQ(test::ReadFile(dst), content) << c.Name;
        else
            EXPECT_FALSE(FileExists(dst)) << c.Name;
        RemoveFile(dst);
        EXPECT_TRUE(Others().empty()) << c.Name;
    }
}

TEST_F(FileCopyTest, ASourceChangedWhileComparedIsCopiedAgainNotCalledTheSame)
{
    test::WriteFile(src, "same");
    test::WriteFile(env.Work() + "last.doc", "same");
    CopyOptions options;
    options.CompareWith = env.Work() + "last.doc";
    options.AfterCopy = [&](int attempt) {
        if (attempt == 1)
            test::WriteFile(src, "sane");
    };
    EXPECT_EQ(CopyFileSafely(src, dst, options).Status, CopyStatus::Ok);
    EXPECT_EQ(test::ReadFile(dst), "sane");
}

TEST_F(FileCopyTest, FilesEqualLooksPastTheFirstChunk)
{
    std::string content(2 * 1024 * 1024 + 5, 'a');
    test::WriteFile(src, content);
    test::WriteFile(dst, content);
    EXPECT_EQ(FilesEqual(src, dst), std::optional<bool>(true));
    content.back() = 'b';
    test::WriteFile(dst, content);
    EXPECT_EQ(FilesEqual(src, dst), std::optional<bool>(false));
    EXPECT_EQ(FilesEqual(src, out + "missing"), std::nullopt);
    EXPECT_TRUE(MakeDirs(out + "a/b/"));
    EXPECT_FALSE(MakeDirs(dst + "/d"));
}

} // namespace
