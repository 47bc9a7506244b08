// The user's data stays private, and what a crashed run leaves in our folders is tidied.
#include "common/TestSupport.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

namespace fs = std::filesystem;

unsigned Mode(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the process's umask for the life of the object.
class UmaskScope
{
public:
    explicit UmaskScope(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskScope() { ::umask(m_old); }

private:
    mode_t m_old;
};

class PrivateUnderUmask : public ::testing::TestWithParam<mode_t>
{
protected:
    test::TestEnv env;
};

TEST_P(PrivateUnderUmask, FoldersListsAndVersionsAreTheOwnersAlone)
{
    const std::string source = env.Work() + "open/report.txt";
    test::WriteFile(source, "data");
    ::chmod(source.c_str(), 0644);
    const UmaskScope mask(GetParam());

    const std::string tree = env.Work() + "backup/1234/001";
    ASSERT_TRUE(MakePrivateDirs(tree));
    for (const std::string& folder : {env.Work() + "backup", env.Work() + "backup/1234", tree})
        EXPECT_EQ(Mode(folder), 0700u) << folder;

    qputenv("MORVANE_HOME", QByteArray::fromStdString(env.Work() + "home/data"));
    const std::string home = HomeDir();
    qputenv("MORVANE_HOME", QByteArray::fromStdString(env.Home()));
    EXPECT_EQ(Mode(WithoutTrailingSep(home)), 0700u);

    const std::string list = home + "mvlist.srv";
    {
        IniFile ini(list);
        ini.WriteString("/a/b.txt", "FileID", "1");
        ini.Flush();
    }
    EXPECT_EQ(Mode(list), 0600u);

    const std::string version = tree + "/report.txt";
    ASSERT_EQ(CopyFileSafely(source, version).Status, CopyStatus::Ok);
    EXPECT_EQ(Mode(version) & 077, 0u) << "a version is never readable by others";
    EXPECT_EQ(Mode(version) & 0600, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Masks, PrivateUnderUmask, ::testing::Values(mode_t(0), mode_t(022), mode_t(0277)),
                         test::RowNames({"Umask000", "Umask022", "Umask277"}));

TEST(PrivateHome, AnOpenHomeFromAnEarlierRunIsClosed)
{
    test::TestEnv env;
    ::chmod(env.Home().c_str(), 0755);
    EXPECT_EQ(HomeDir(), env.Home());
    EXPECT_EQ(Mode(WithoutTrailingSep(env.Home())), 0700u);
}

class RuntimeLink : public ::testing::TestWithParam<bool>
{
};

TEST_P(RuntimeLink, ASymbolicLinkIsRefusedWhoeverOwnsIt)
{
    test::TestEnv env;
    const std::string target = env.Work() + "real";
    if (GetParam()) {
        ASSERT_TRUE(MakePrivateDirs(target)); // a private folder of our own behind the link
    }
    const std::string link = env.Work() + "rt";
    fs::create_symlink(target, link);
    const QByteArray old = qgetenv("MORVANE_RUNTIME_DIR");
    qputenv("MORVANE_RUNTIME_DIR", QByteArray::fromStdString(link));
    EXPECT_THROW(RuntimeDir(), std::system_error);
    qputenv("MORVANE_RUNTIME_DIR", old);
}

INSTANTIATE_TEST_SUITE_P(Targets, RuntimeLink, ::testing::Values(true, false),
                         test::RowNames({"ToAPrivateFolder", "ToNothing"}));

struct LeftoverCase
{
    const char* name;
    bool removed;
    bool staged = false; // a folder holding a half-written file, as a write in progress makes
};

TEST(IniLeftovers, OnlyUnfinishedWritesOfThatFileGo)
{
    const LeftoverCase cases[] = {
        {".mvlist.srv.Ab12Cd.part", true, true},
        {"mvlist.srv.tmp.4711.0badf00d", true}, // as earlier builds named them
        {"mvlist.srv.tmp.1.ffffffff", true},
        {"mvlist.srv", false},
        {".mvlist.srv.Zz99Yy.part", false}, // a file is never a staging folder
        {".other.ini.Ab12Cd.part", false, true},
        {".mvlist.srv.Ab12C.part", false, true},
        {"mvlist.srv.tmp.4711.0BADF00D", false},
        {"mvlist.srv.tmp.4711.0badf00", false},
        {"mvlist.srv.tmp..0badf00d", false},
        {"other.ini.tmp.4711.0badf00d", false},
        {"mvlist.srv.tmp.x1.0badf00d", false},
        {"notes.txt", false},
    };
    test::TestEnv env;
    for (const LeftoverCase& c : cases)
        test::WriteFile(env.Work() + c.name + (c.staged ? "/mvlist.srv" : ""), "x");
    fs::create_directory(env.Work() + "mvlist.srv.tmp.9.00000000"); // a folder is never ours
    EXPECT_EQ(IniFile::RemoveLeftovers(env.Work() + "mvlist.srv"), 3);
    for (const LeftoverCase& c : cases)
        EXPECT_EQ(!fs::exists(env.Work() + c.name), c.removed) << c.name;
    EXPECT_TRUE(fs::exists(env.Work() + "mvlist.srv.tmp.9.00000000"));
}

TEST(DeadSockets, OnlySocketsNobodyReceivesOnGo)
{
    test::TestEnv env;
    MessageWindow live;
    char liveName[16];
    std::snprintf(liveName, sizeof liveName, "wnd-%08x", live.Handle());

    // A socket bound and closed without unlinking is what a crash leaves.
    const std::string dead = env.Runtime() + "wnd-0000beef";
    {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        dead.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    test::WriteFile(env.Runtime() + "wnd-0000cafe", "not a socket");
    test::WriteFile(env.Runtime() + "QuennetMutex.lock", "");

    EXPECT_EQ(MessageWindow::RemoveDeadSockets(), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dead)));
    EXPECT_TRUE(fs::exists(env.Runtime() + liveName));
    EXPECT_TRUE(fs::exists(env.Runtime() + "wnd-0000cafe"));
    EXPECT_TRUE(fs::exists(env.Runtime() + "QuennetMutex.lock"));
    EXPECT_TRUE(PostMessage(live.Handle(), 0xC001, 0, 0)) << "the live window still receives";
}

} // namespace
} // namespace morvane
