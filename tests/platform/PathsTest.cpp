#include "platform/Paths.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

namespace fs = std::filesystem;

struct PathCase
{
    std::string path;
    std::string withSep;
    std::string folder;
    std::string name;
};

void PrintTo(const PathCase& c, std::ostream* out)
{
    *out << '"' << c.path << '"';
}

class PathParts : public ::testing::TestWithParam<PathCase>
{
};

TEST_P(PathParts, SplitAndJoin)
{
    const PathCase& c = GetParam();
    EXPECT_EQ(WithTrailingSep(c.path), c.withSep);
    EXPECT_EQ(FolderPart(c.path), c.folder);
    EXPECT_EQ(NamePart(c.path), c.name);
}

INSTANTIATE_TEST_SUITE_P(Table, PathParts,
                         ::testing::Values(PathCase{"", "", "", ""}, PathCase{"a.txt", "a.txt/", "", "a.txt"},
                                           PathCase{"/home/u/a.txt", "/home/u/a.txt/", "/home/u/", "a.txt"},
                                           PathCase{"/home/u/", "/home/u/", "/home/u/", ""},
                                           PathCase{"/", "/", "/", ""}));

TEST(PathTrim, WithoutTrailingSepKeepsTheRoot)
{
    EXPECT_EQ(WithoutTrailingSep("/home/u//"), "/home/u");
    EXPECT_EQ(WithoutTrailingSep("///"), "/");
    EXPECT_EQ(WithoutTrailingSep("a.txt"), "a.txt");
    EXPECT_EQ(WithoutTrailingSep(""), "");
}

TEST(ShareFolder, FoundFromTheProgramInAnyPrefix)
{
    test::TestEnv env;
    // An install in a prefix of its own, a build tree with the data beside the programs.
    const std::string prefix = env.Work() + "staged/opt/x/";
    fs::create_directories(prefix + "bin");
    fs::create_directories(prefix + "share/morvane/Langs");
    const std::string buildTree = env.Work() + "build/bin/";
    fs::create_directories(buildTree + "Langs");
    EXPECT_EQ(ShareDirFor(prefix + "bin/"), prefix + "share/morvane/");
    EXPECT_EQ(ShareDirFor(prefix + "bin"), prefix + "share/morvane/");
    EXPECT_EQ(ShareDirFor(buildTree), buildTree);
}

// Sets or clears one environment variable for the life of the object.
class EnvOverride
{
public:
    EnvOverride(const char* name, const char* value) : m_name(name), m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvOverride()
    {
        if (m_old.isNull())
            qunsetenv(m_name);
        else
            qputenv(m_name, m_old);
    }

private:
    const char* m_name;
    QByteArray m_old;
};

class Folders : public ::testing::Test
{
protected:
    static unsigned Mode(const std::string& path)
    {
        struct stat st
        {
        };
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    test::TestEnv m_env;
};

TEST_F(Folders, HomeComesFromItsVariableOrTheDataFolder)
{
    const std::string custom = m_env.Work() + "h/deeper";
    {
        EnvOverride home("MORVANE_HOME", custom.c_str());
        EXPECT_EQ(HomeDir(), custom + "/");
        EXPECT_TRUE(fs::is_directory(custom));
    }
    EnvOverride home("MORVANE_HOME", nullptr);
    EnvOverride data("XDG_DATA_HOME", (m_env.Work() + "data").c_str());
    EXPECT_EQ(HomeDir(), m_env.Work() + "data/morvane/");
    EXPECT_TRUE(fs::is_directory(m_env.Work() + "data/morvane"));
}

TEST_F(Folders, RuntimeFolderIsMadePrivate)
{
    const std::string fresh = m_env.Work() + "a/rt";
    {
        EnvOverride runtime("MORVANE_RUNTIME_DIR", fresh.c_str());
        EXPECT_EQ(RuntimeDir(), fresh + "/");
        EXPECT_EQ(Mode(fresh), 0700u);
    }
    const std::string loose = m_env.Work() + "loose";
    fs::create_directories(loose);
    chmod(loose.c_str(), 0755);
    EnvOverride runtime("MORVANE_RUNTIME_DIR", loose.c_str());
    EXPECT_EQ(RuntimeDir(), loose + "/");
    EXPECT_EQ(Mode(loose), 0700u);
}

TEST_F(Folders, RuntimeFolderOfAnotherUserIsRefused)
{
    std::string foreign = "/";
    if (geteuid() == 0) {
        foreign = m_env.Work() + "foreign";
        fs::create_directories(foreign);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    }
    EnvOverride runtime("MORVANE_RUNTIME_DIR", foreign.c_str());
    try {
        RuntimeDir();
        ADD_FAILURE() << "another user's folder was accepted";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::operation_not_permitted);
    }
}

} // namespace
} // namespace morvane
