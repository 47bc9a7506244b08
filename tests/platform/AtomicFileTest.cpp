#include "platform/AtomicFile.h"

#include "common/TestSupport.h"
#include "platform/DirListing.h"

#include <csignal>
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

} // namespace
