#include "agent/AutoStart.h"

#include "common/TestSupport.h"

#include <QByteArray>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using morvane::test::ReadFile;
using morvane::test::WriteFile;

namespace {

class AutoStartEntry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_old = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    }
    void TearDown() override
    {
        if (m_old.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_old);
    }

    test::TestEnv env;
    std::string config = env.Work() + "config";
    AutoStart entry{"Morvane"};

private:
    QByteArray m_old;
};

} // namespace

TEST_F(AutoStartEntry, LivesInTheAutostartFolderOfTheConfigHome)
{
    EXPECT_EQ(entry.EntryPath(), config + "/autostart/Morvane.desktop");
}

TEST_F(AutoStartEntry, MissingEntryReadsEmptyAndNeverMatches)
{
    ASSERT_EQ(entry.ReadValue(), std::string());
    EXPECT_FALSE(AutoStart::Matches("", "/opt/morvane/quennet"));
}

TEST_F(AutoStartEntry, WrittenValueReadsBackAndMatches)
{
    const std::string program = "/opt/Morvane Files/quennet";
    ASSERT_TRUE(entry.WriteValue(AutoStart::QuotedProgram(program)));
    const auto value = entry.ReadValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "\"/opt/Morvane Files/quennet\"");
    EXPECT_TRUE(AutoStart::Matches(*value, program));
    const std::string text = ReadFile(entry.EntryPath());
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
}

TEST_F(AutoStartEntry, ComparisonIgnoresCaseButNeedsTheQuotes)
{
    EXPECT_TRUE(AutoStart::Matches("\"/OPT/MORVANE/QUENNET\"", "/opt/morvane/quennet"));
    EXPECT_FALSE(AutoStart::Matches("/opt/morvane/quennet", "/opt/morvane/quennet"));
    EXPECT_FALSE(AutoStart::Matches("\"/opt/morvane/quennet2\"", "/opt/morvane/quennet"));
}

TEST_F(AutoStartEntry, ExecOfAnotherGroupIsNotTheValue)
{
    WriteFile(entry.EntryPath(), "[Desktop Action x]\nExec=\"/other\"\n[Desktop Entry]\nName=M\n"
                                 "ExecSomething=1\nExec = \"/opt/q\" \n");
    EXPECT_EQ(entry.ReadValue(), std::string("\"/opt/q\""));
}

TEST_F(AutoStartEntry, ValueWithLineBreakIsRefused)
{
    EXPECT_FALSE(entry.WriteValue("\"/opt/q\"\nExec=/bin/evil"));
    EXPECT_FALSE(std::filesystem::exists(entry.EntryPath()));
}
