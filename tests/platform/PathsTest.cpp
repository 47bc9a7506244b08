#include "platform/Paths.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <functional>
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
                                           PathCase{"/", "/", "/", ""}),
                         test::RowNamesBy(&PathCase::path));

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
    // Once resolved, the folder is still looked at: opened again, removed or replaced by
    // a link, it is closed, made anew or refused.
    chmod(loose.c_str(), 0755);
    EXPECT_EQ(RuntimeDir(), loose + "/");
    EXPECT_EQ(Mode(loose), 0700u);
    fs::remove(loose);
    EXPECT_EQ(RuntimeDir(), loose + "/");
    EXPECT_TRUE(fs::is_directory(loose));
    fs::remove(loose);
    fs::create_directory_symlink(m_env.Work() + "a", loose);
    EXPECT_THROW(RuntimeDir(), std::system_error);
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

TEST_F(Folders, APlantedSharedRuntimeFolderIsReplacedByAPrivateOneAllProgramsFind)
{
    // What another user (or anyone) may have put at our name before we start.
    const struct
    {
        const char* what;
        std::function<void(const std::string&)> plant;
    } cases[] = {
        {"a link to a folder of ours",
         [this](const std::string& at) {
             fs::create_directories(m_env.Work() + "target");
             fs::create_symlink(m_env.Work() + "target", at);
         }},
        {"a folder open to others",
         [](const std::string& at) {
             fs::create_directories(at);
             chmod(at.c_str(), 0777);
         }},
        {"a file",
         [](const std::string& at) {
             test::WriteFile(at, "x");
         }},
        {"a folder of another user",
         [](const std::string& at) {
             fs::create_directories(at);
             if (chown(at.c_str(), 65534, 65534) != 0)
                 fs::remove(at); // not the superuser: no other user's folder can be made
         }},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string preferred = m_env.Work() + "morvane-" + std::to_string(++n);
        const std::string record = m_env.Work() + "record-" + std::to_string(n);
        c.plant(preferred);
        if (!fs::exists(fs::symlink_status(preferred)))
            continue;
        const std::string chosen = PrivateRuntimeDir(preferred, record);
        EXPECT_NE(chosen, preferred + "/") << c.what;
        EXPECT_EQ(chosen.rfind(preferred + "-", 0), 0u) << c.what << ": " << chosen;
        EXPECT_EQ(Mode(chosen), 0700u) << c.what;
        EXPECT_FALSE(fs::is_symlink(WithoutTrailingSep(chosen))) << c.what;
        // The next program finds the same folder; once it is gone, a new one is made.
        EXPECT_EQ(PrivateRuntimeDir(preferred, record), chosen) << c.what;
        fs::remove(WithoutTrailingSep(chosen));
        const std::string next = PrivateRuntimeDir(preferred, record);
        EXPECT_NE(next, chosen) << c.what;
        EXPECT_EQ(Mode(next), 0700u) << c.what;
    }
}

TEST_F(Folders, ARecordNamingAnythingButOurPrivateFolderIsNotFollowed)
{
    const std::string preferred = m_env.Work() + "morvane-1";
    const std::string record = m_env.Work() + "record";
    fs::create_directories(m_env.Work() + "elsewhere");
    chmod((m_env.Work() + "elsewhere").c_str(), 0700);
    fs::create_directories(preferred + "-open");
    chmod((preferred + "-open").c_str(), 0755);
    fs::create_symlink(m_env.Work() + "elsewhere", preferred + "-link");
    test::WriteFile(preferred, "in the way");
    for (const std::string& named :
         {m_env.Work() + "elsewhere/", preferred + "-open/", preferred + "-link/", std::string("garbage")}) {
        test::WriteFile(record, named + "\n");
        const std::string chosen = PrivateRuntimeDir(preferred, record);
        EXPECT_NE(chosen, named);
        EXPECT_EQ(chosen.rfind(preferred + "-", 0), 0u) << chosen;
        EXPECT_EQ(Mode(chosen), 0700u) << named;
        EXPECT_EQ(test::ReadFile(record), chosen + "\n");
    }
}

TEST_F(Folders, ASharedRuntimeFolderThatIsOursAndPrivateIsUsed)
{
    const std::string preferred = m_env.Work() + "morvane-1";
    const std::string record = m_env.Work() + "record";
    EXPECT_EQ(PrivateRuntimeDir(preferred, record), preferred + "/");
    EXPECT_EQ(Mode(preferred), 0700u);
    EXPECT_EQ(PrivateRuntimeDir(preferred, record), preferred + "/");
    EXPECT_FALSE(fs::exists(record));
}

} // namespace
} // namespace morvane
