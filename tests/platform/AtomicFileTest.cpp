#include "platform/AtomicFile.h"

#include "common/TestSupport.h"
#include "platform/DirListing.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace morvane;

namespace {

unsigned Mode(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Files may not grow past limit bytes while it lives: a write beyond fails with EFBIG,
// as on a disk that fills up in the middle of a file.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit now{limit, m_old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &now);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old = {};
    void (*m_oldHandler)(int) = nullptr;
};

struct FailureCase
{
    const char* Name;
    std::function<int(const std::string& target)> Write; // the errno the writer returned
    int Error;
};

TEST(AtomicFile, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile)
{
    const std::string big(64 * 1024, 'x');
    const FailureCase cases[] = {
        {"the disk fills up in the middle",
         [&](const std::string& target) {
             const FileSizeLimit limit(4096);
             return WriteFileAtomically(target, big);
         },
         EFBIG},
        {"a copy never replaces what is there",
         [](const std::string& target) {
             AtomicFile file;
             int err = file.Begin(target);
             if (err == 0)
                 err = file.Write("new");
             return err ? err : file.Commit(AtomicFile::Placement::NoReplace, 0600);
         },
         EEXIST},
        {"abandoned before it was named",
         [](const std::string& target) {
             AtomicFile file;
             const int err = file.Begin(target);
             return err ? err : file.Write("new") == 0 ? ECANCELED : -1;
         },
         ECANCELED},
        {"the folder is missing",
         [](const std::string& target) { return WriteFileAtomically(target + ".d/x", "new"); }, ENOENT},
    };
    for (const FailureCase& c : cases) {
        test::TestEnv env;
        const std::string target = env.Work() + "list.srv";
        test::WriteFile(target, "old list");
        ::chmod(target.c_str(), 0640);
        EXPECT_EQ(c.Write(target), c.Error) << c.Name;
        EXPECT_EQ(test::ReadFile(target), "old list") << c.Name;
        EXPECT_EQ(Mode(target), 0640u) << c.Name;
        EXPECT_EQ(ListDir(env.Work()).size(), 1u) << c.Name << ": a temporary file stayed";
    }
}

TEST(AtomicFile, AReplacementKeepsTheOldModeAndANewFileIsPrivateWhateverTheUmask)
{
    test::TestEnv env;
    const mode_t old = ::umask(0);
    const std::string kept = env.Work() + "shared.ini";
    test::WriteFile(kept, "old");
    ::chmod(kept.c_str(), 0644);
    EXPECT_EQ(WriteFileAtomically(kept, "new"), 0);
    EXPECT_EQ(WriteFileAtomically(env.Work() + "fresh.lst", "new"), 0);
    ::umask(old);
    EXPECT_EQ(test::ReadFile(kept), "new");
    EXPECT_EQ(Mode(kept), 0644u);
    EXPECT_EQ(Mode(env.Work() + "fresh.lst"), 0600u);
    EXPECT_EQ(ListDir(env.Work()).size(), 2u);
}

// Whether the file system of folder has unnamed files (else the unnamed staging falls
// back to a staging folder, which other cases cover).
bool HasUnnamedFiles(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

struct StagingCase
{
    const char* Name;
    bool Exists; // a file of the target's name is there before
    AtomicFile::Placement Placement;
    bool Commit;         // false: abandoned before it is named
    int Error;           // what the commit returns
    const char* Content; // the target's bytes afterwards
    unsigned Mode;       // and its mode
};

// Both ways of staging keep one set of promises: nothing has the target's name before
// the commit, a copy never replaces what is there, and when it is over nothing but the
// target is left in its folder.
TEST(AtomicFile, EitherStagingNamesTheFileWholeOrLeavesTheFolderAsItWas)
{
    using P = AtomicFile::Placement;
    const StagingCase cases[] = {
        {"a new file", false, P::NoReplace, true, 0, "new", 0400},
        {"a name already taken", true, P::NoReplace, true, EEXIST, "old", 0640},
        {"a replacement", true, P::Replace, true, 0, "new", 0400},
        {"abandoned", true, P::Replace, false, 0, "old", 0640},
        {"abandoned, nothing there before", false, P::NoReplace, false, 0, nullptr, 0},
    };
    for (const AtomicFile::Staging staging : {AtomicFile::Staging::Folder, AtomicFile::Staging::Unnamed}) {
        const bool unnamed = staging == AtomicFile::Staging::Unnamed;
        for (const StagingCase& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + (unnamed ? ", unnamed" : ", staging folder"));
            test::TestEnv env;
            const std::string target = env.Work() + "a(v 3).doc";
            if (c.Exists) {
                test::WriteFile(target, "old");
                ::chmod(target.c_str(), 0640);
            }
            const std::size_t before = ListDir(env.Work()).size();
            {
                AtomicFile file;
                ASSERT_EQ(file.Begin(target, staging), 0);
                ASSERT_EQ(file.Write("new"), 0);
                if (unnamed && HasUnnamedFiles(env.Work())) {
                    EXPECT_EQ(ListDir(env.Work()).size(), before) << "an unnamed file shows nowhere";
                }
                if (c.Commit) {
                    EXPECT_EQ(file.Commit(c.Placement, 0400), c.Error);
                    if (c.Error == 0) {
                        EXPECT_EQ(file.Written().st_size, 3);
                    }
                }
            }
            if (c.Content) {
                EXPECT_EQ(test::ReadFile(target), c.Content);
                EXPECT_EQ(Mode(target), c.Mode);
            }
            EXPECT_EQ(ListDir(env.Work()).size(), c.Content ? 1u : 0u) << "something else stayed";
        }
    }
}

} // namespace
