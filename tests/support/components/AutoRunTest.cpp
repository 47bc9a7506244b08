#include "common/TestSupport.h"
#include "support/components/TkitAutoRun.h"

#include <QByteArray>
#include <QCoreApplication>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

class AutoRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_old = qgetenv("XDG_CONFIG_HOME");
        m_oldDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(env.Work() + "config"));
        // The machine's folder too: no test ever touches the real one.
        qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(env.Work() + "etc-xdg"));
        autoRun.SetKind(aekUserRun);
    }
    void TearDown() override
    {
        if (m_old.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_old);
        if (m_oldDirs.isNull())
            qunsetenv("XDG_CONFIG_DIRS");
        else
            qputenv("XDG_CONFIG_DIRS", m_oldDirs);
    }
    std::string Entry(const std::string& name) const
    {
        return env.Work() + "config/autostart/" + name + ".desktop";
    }

    test::TestEnv env;
    TkitAutoRun autoRun;

private:
    QByteArray m_old;
    QByteArray m_oldDirs;
};

TEST_F(AutoRunTest, StartsWithTheRunningProgramAndNoEntry)
{
    TkitAutoRun fresh;
    EXPECT_FALSE(fresh.AutoRun());
    EXPECT_EQ(fresh.Kind(), aekMachineRun);
    EXPECT_EQ(fresh.FileName(), QCoreApplication::applicationFilePath().toStdString());
}

TEST_F(AutoRunTest, EntryFollowsEveryPropertyChange)
{
    autoRun.SetFileName("/opt/m/quennet");
    EXPECT_FALSE(fs::exists(Entry("quennet")));
    autoRun.SetAutoRun(true);
    EXPECT_EQ(AutoExecCommand(aekUserRun, "quennet"), std::vector<std::string>{"/opt/m/quennet"});

    autoRun.SetFileName("/opt/other dir/kelvrim");
    EXPECT_FALSE(fs::exists(Entry("quennet")));
    EXPECT_EQ(AutoExecCommand(aekUserRun, "kelvrim"), std::vector<std::string>{"/opt/other dir/kelvrim"});

    // The desktop has no run-once entries: moving there removes the entry and writes none.
    autoRun.SetKind(aekUserRunOnce);
    EXPECT_FALSE(fs::exists(Entry("kelvrim")));
    EXPECT_EQ(autoRun.LastOutcome(), aeoUnsupported);
    autoRun.SetKind(aekUserRun);
    EXPECT_TRUE(fs::exists(Entry("kelvrim")));

    autoRun.SetAutoRun(false);
    EXPECT_FALSE(fs::exists(Entry("kelvrim")));
}

TEST_F(AutoRunTest, TheValueAlreadyHeldTouchesNothing)
{
    autoRun.SetFileName("/opt/m/quennet");
    autoRun.SetAutoRun(true);
    test::WriteFile(Entry("quennet"), "edited by hand");
    autoRun.SetAutoRun(true);
    autoRun.SetFileName("/opt/m/quennet");
    autoRun.SetKind(aekUserRun);
    EXPECT_EQ(test::ReadFile(Entry("quennet")), "edited by hand");
    // FileName compares with case: another spelling is another program.
    autoRun.SetFileName("/opt/m/Quennet");
    EXPECT_FALSE(fs::exists(Entry("quennet")));
    EXPECT_TRUE(fs::exists(Entry("Quennet")));
}

} // namespace
