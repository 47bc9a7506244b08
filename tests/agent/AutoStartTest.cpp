#include "agent/AutoStart.h"

#include "common/TestSupport.h"
#include "platform/AutostartEntry.h"

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>

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

TEST_F(AutoStartEntry, WrittenEntryReadsBackMatchesAndStartsAfterThePanel)
{
    const std::string program = "/opt/Morvane Files/quennet";
    ASSERT_TRUE(entry.WriteProgram(program));
    const auto value = entry.ReadValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "\"/opt/Morvane Files/quennet\"");
    EXPECT_TRUE(AutoStart::Matches(*value, program));
    const std::string text = ReadFile(entry.EntryPath());
    for (const char* line : {"[Desktop Entry]\n", "Type=Application\n", "Name=Morvane Agent\n",
                             "Icon=" MORVANE_APP_ID "\n", "TryExec=/opt/Morvane Files/quennet\n",
                             "X-KDE-autostart-after=panel\n", "X-GNOME-Autostart-Delay=3\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

TEST_F(AutoStartEntry, WrittenEntryPassesTheDesktopsValidator)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    ASSERT_TRUE(entry.WriteProgram("/opt/a $dir/quennet"));
    QProcess run;
    run.start(validator, {QString::fromStdString(entry.EntryPath())});
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAll().toStdString() << "\n" << ReadFile(entry.EntryPath());
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

TEST_F(AutoStartEntry, ProgramWithLineBreakIsRefused)
{
    EXPECT_FALSE(entry.WriteProgram("/opt/q\nExec=/bin/evil"));
    EXPECT_FALSE(std::filesystem::exists(entry.EntryPath()));
}

// Program paths with the characters the desktop's command lines treat specially: the
// entry must start exactly that program, and a second start must see it as set.
struct ProgramCase
{
    const char* label;
    std::string program;
    std::string exec; // the Exec= value as the file holds it
};

void PrintTo(const ProgramCase& c, std::ostream* out)
{
    *out << c.label;
}

class AutoStartProgram : public AutoStartEntry, public ::testing::WithParamInterface<ProgramCase>
{
};

TEST_P(AutoStartProgram, ExecLineStartsExactlyTheProgram)
{
    const ProgramCase& c = GetParam();
    ASSERT_TRUE(entry.WriteProgram(c.program));
    const auto value = entry.ReadValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, c.exec);
    EXPECT_TRUE(AutoStart::Matches(*value, c.program)) << "a second start would ask again";
    const auto args = DecodeExecLine(*value);
    ASSERT_TRUE(args);
    EXPECT_EQ(*args, std::vector<std::string>{c.program});
}

INSTANTIATE_TEST_SUITE_P(
    Table, AutoStartProgram,
    ::testing::Values(ProgramCase{"plain", "/usr/bin/quennet", "\"/usr/bin/quennet\""},
                      ProgramCase{"blank", "/opt/My Apps/quennet", "\"/opt/My Apps/quennet\""},
                      ProgramCase{"dollar", "/opt/a$HOME/quennet", "\"/opt/a\\\\$HOME/quennet\""},
                      ProgramCase{"quote", "/opt/say \"hi\"/quennet", "\"/opt/say \\\\\"hi\\\\\"/quennet\""},
                      ProgramCase{"backtick", "/opt/`x`/quennet", "\"/opt/\\\\`x\\\\`/quennet\""},
                      ProgramCase{"backslash", "/opt/a\\b/quennet", "\"/opt/a\\\\\\\\b/quennet\""},
                      ProgramCase{"percent", "/opt/100%/quennet", "\"/opt/100%%/quennet\""}),
    [](const auto& info) { return std::string(info.param.label); });

// An entry the desktop's settings switched off counts as not set, whatever its Exec= line.
struct SwitchCase
{
    const char* label;
    std::string keys;
    bool set;
};

void PrintTo(const SwitchCase& c, std::ostream* out)
{
    *out << c.label;
}

class AutoStartSwitch : public AutoStartEntry, public ::testing::WithParamInterface<SwitchCase>
{
};

TEST_P(AutoStartSwitch, SwitchedOffEntryCountsAsNotSet)
{
    const SwitchCase& c = GetParam();
    WriteFile(entry.EntryPath(), "[Desktop Entry]\nType=Application\nExec=\"/usr/bin/quennet\"\n" + c.keys);
    const auto value = entry.ReadValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(AutoStart::Matches(*value, "/usr/bin/quennet"), c.set);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AutoStartSwitch,
    ::testing::Values(SwitchCase{"plain", "", true}, SwitchCase{"hidden", "Hidden=true\n", false},
                      SwitchCase{"notHidden", "Hidden=false\n", true},
                      SwitchCase{"gnomeOff", "X-GNOME-Autostart-enabled=false\n", false},
                      SwitchCase{"gnomeOn", "X-GNOME-Autostart-enabled=true\n", true},
                      SwitchCase{"hiddenInOtherGroup", "[Desktop Action a]\nHidden=true\n", true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DesktopEntryText, EmptyFieldsAreLeftOutAndTextsEscaped)
{
    DesktopEntryFields fields;
    fields.Name = " lead\nnext\\";
    fields.Exec = "quennet";
    fields.Extra = {{"X-Test", "a\tb"}};
    const auto text = MakeDesktopEntry(fields);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("\nName=\\slead\\nnext\\\\\n"), std::string::npos) << *text;
    EXPECT_NE(text->find("\nX-Test=a\\tb\n"), std::string::npos) << *text;
    for (const char* absent : {"Icon=", "TryExec=", "Comment=", "GenericName=", "@"})
        EXPECT_EQ(text->find(absent), std::string::npos) << absent << " in\n" << *text;
    fields.Extra = {{"Bad Key", "x"}};
    EXPECT_FALSE(MakeDesktopEntry(fields)) << "a key with a blank could hide another";
    fields.Extra.clear();
    fields.Exec = "quennet\nHidden=true";
    EXPECT_FALSE(MakeDesktopEntry(fields));
}
