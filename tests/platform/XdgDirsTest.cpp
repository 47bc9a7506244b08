#include "platform/XdgDirs.h"

#include "common/TestSupport.h"

#include <QByteArray>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace morvane {
namespace {

// Sets (or, for nullptr, clears) environment variables for the life of the object.
class EnvScope
{
public:
    void Set(const char* name, const char* value)
    {
        m_saved.push_back({name, qgetenv(name)});
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvScope()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second.isNull())
                qunsetenv(it->first);
            else
                qputenv(it->first, it->second);
        }
    }

private:
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

std::string AccountHome()
{
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? std::string(pw->pw_dir) + "/" : std::string();
}

struct BaseCase
{
    const char* label;
    const char* variable;
    const char* value; // "{W}" is the test's scratch folder
    std::function<std::string()> call;
    std::string expected; // "{W}" likewise, "{H}" the home the test sets
};

void PrintTo(const BaseCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string Expand(std::string text, const std::string& work, const std::string& home)
{
    for (auto [mark, value] : {std::pair<std::string, std::string>{"{W}", work}, {"{H}", home}})
        for (auto pos = text.find(mark); pos != std::string::npos; pos = text.find(mark, pos + value.size()))
            text.replace(pos, mark.size(), value);
    return text;
}

class BaseFolders : public ::testing::TestWithParam<BaseCase>
{
protected:
    test::TestEnv m_env;
};

TEST_P(BaseFolders, FollowTheVariableOnlyWhenItIsAbsolute)
{
    const BaseCase& c = GetParam();
    const std::string work = m_env.Work();
    const std::string home = work + "home/";
    EnvScope env;
    env.Set("HOME", (work + "home").c_str());
    const std::string value = Expand(c.value ? c.value : "", work, home);
    env.Set(c.variable, c.value ? value.c_str() : nullptr);
    std::filesystem::create_directories(work + "d1");
    EXPECT_EQ(c.call(), Expand(c.expected, work, home));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BaseFolders,
    ::testing::Values(
        BaseCase{"config set", "XDG_CONFIG_HOME", "{W}cfg", ConfigHome, "{W}cfg/"},
        BaseCase{"config relative", "XDG_CONFIG_HOME", "cfg", ConfigHome, "{H}.config/"},
        BaseCase{"config empty", "XDG_CONFIG_HOME", "", ConfigHome, "{H}.config/"},
        BaseCase{"data unset", "XDG_DATA_HOME", nullptr, DataHome, "{H}.local/share/"},
        BaseCase{"data relative", "XDG_DATA_HOME", "./share", DataHome, "{H}.local/share/"},
        BaseCase{"state set", "XDG_STATE_HOME", "{W}st/", StateHome, "{W}st/"},
        BaseCase{"state unset", "XDG_STATE_HOME", nullptr, StateHome, "{H}.local/state/"},
        BaseCase{"autostart", "XDG_CONFIG_HOME", "rel", UserAutostartDir, "{H}.config/autostart/"},
        BaseCase{"system config first absolute", "XDG_CONFIG_DIRS", "rel:{W}a:/b", SystemConfigDir, "{W}a/"},
        BaseCase{"system config only relative", "XDG_CONFIG_DIRS", "rel", SystemConfigDir, "/etc/xdg/"},
        BaseCase{"machine autostart", "XDG_CONFIG_DIRS", "", SystemAutostartDir, "/etc/xdg/autostart/"},
        BaseCase{"system data first existing", "XDG_DATA_DIRS", "{W}none:rel:{W}d1", SystemDataDir, "{W}d1/"},
        BaseCase{"system data none existing", "XDG_DATA_DIRS", "{W}x:{W}y", SystemDataDir, "{W}y/"}),
    test::RowNamesBy(&BaseCase::label));

TEST(UserHome, ARelativeOrMissingHomeFallsBackToTheAccount)
{
    const std::string account = AccountHome();
    if (account.size() < 2 || account[0] != '/')
        GTEST_SKIP() << "the account names no home";
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        EnvScope env;
        env.Set("HOME", home);
        env.Set("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(UserHome(), account) << (home ? home : "(unset)");
        // Never the root folder's ".config" that a "/" home would give.
        EXPECT_EQ(ConfigHome(), account + ".config/");
    }
}

} // namespace
} // namespace morvane
