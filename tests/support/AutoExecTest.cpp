#include "common/TestSupport.h"
#include "platform/AutostartEntry.h"
#include "support/KitSysUtils.h"

#include <QByteArray>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace morvane;
using morvane::test::ReadFile;
using morvane::test::TestEnv;
namespace fs = std::filesystem;

namespace {

// Points the user's and the machine's settings folders into the test's own folder.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name), m_old(qgetenv(name))
    {
        qputenv(name, QByteArray::fromStdString(value));
    }
    ~ScopedEnv()
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

class AutoExecTest : public ::testing::Test
{
protected:
    TestEnv env;
    ScopedEnv config{"XDG_CONFIG_HOME", env.Work() + "config"};
    ScopedEnv system{"XDG_CONFIG_DIRS", env.Work() + "etc-xdg:/etc/xdg"};
    std::string userDir = env.Work() + "config/autostart/";
    std::string machineDir = env.Work() + "etc-xdg/autostart/";
};

struct PathRow
{
    std::string path;
    std::string execLine; // as the entry file holds it
};

class AwkwardPathTest : public AutoExecTest, public ::testing::WithParamInterface<PathRow>
{
};

TEST_P(AwkwardPathTest, EntryStartsExactlyTheProgramPath)
{
    const PathRow& row = GetParam();
    ASSERT_TRUE(AutoExecRegister(aekUserRun, row.path));
    const std::string name = ExtractNamePart(row.path);
    const std::string text = ReadFile(userDir + name + ".desktop");
    EXPECT_NE(text.find("\nExec=" + row.execLine + "\n"), std::string::npos) << text;
    EXPECT_EQ(AutoExecCommand(aekUserRun, name), std::vector<std::string>{row.path});
    ASSERT_TRUE(AutoExecUnregister(aekUserRun, row.path));
    EXPECT_FALSE(fs::exists(userDir + name + ".desktop"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AwkwardPathTest,
    ::testing::Values(PathRow{"/opt/morvane/quennet", "/opt/morvane/quennet"},
                      PathRow{"/home/a user/My Apps/quennet", "\"/home/a user/My Apps/quennet\""},
                      PathRow{"/tmp/say \"hi\"/prog", "\"/tmp/say \\\\\"hi\\\\\"/prog\""},
                      PathRow{"/tmp/100%/prog%u", "/tmp/100%%/prog%%u"},
                      PathRow{"/tmp/$HOME/prog", "\"/tmp/\\\\$HOME/prog\""},
                      PathRow{"/tmp/back\\slash/prog", "\"/tmp/back\\\\\\\\slash/prog\""},
                      PathRow{"/tmp/it's `x`/prog", "\"/tmp/it's \\\\`x\\\\`/prog\""},
                      PathRow{"/tmp/tab\there/prog", "\"/tmp/tab\\there/prog\""}),
    test::RowNamesBy(&PathRow::path));

TEST(ExecLine, FieldCodesAndOpenQuotes)
{
    EXPECT_EQ(DecodeExecLine("prog %U --x=%% \"a b\""), (std::vector<std::string>{"prog", "--x=%", "a b"}));
    EXPECT_EQ(DecodeExecLine("\"/usr/bin/quennet\""), std::vector<std::string>{"/usr/bin/quennet"});
    EXPECT_FALSE(DecodeExecLine("\"open").has_value());
    EXPECT_FALSE(EncodeExecArgument("line\nbreak").has_value());
}

struct KindRow
{
    TkitAutoExecKind kind;
    bool supported;
};

class AutoExecKindTest : public AutoExecTest, public ::testing::WithParamInterface<KindRow>
{
};

TEST_P(AutoExecKindTest, KindsTheDesktopLacksAreRefusedAndWriteNothing)
{
    fs::create_directories(machineDir);
    TkitAutoExecOutcome outcome = aeoFailed;
    EXPECT_EQ(AutoExecRegister(GetParam().kind, "/opt/m/quennet", &outcome), GetParam().supported);
    EXPECT_EQ(outcome, GetParam().supported ? aeoDone : aeoUnsupported);
    EXPECT_EQ(AutoExecUnregister(GetParam().kind, "/opt/m/quennet", &outcome), GetParam().supported);
    EXPECT_EQ(outcome, GetParam().supported ? aeoDone : aeoUnsupported);
    EXPECT_FALSE(fs::exists(userDir + "quennet.desktop"));
    EXPECT_FALSE(fs::exists(machineDir + "quennet.desktop"));
}

INSTANTIATE_TEST_SUITE_P(Table, AutoExecKindTest,
                         ::testing::Values(KindRow{aekUserRun, true}, KindRow{aekMachineRun, true},
                                           KindRow{aekUserRunOnce, false}, KindRow{aekMachineRunOnce, false},
                                           KindRow{aekServiceRun, false}, KindRow{aekServiceRunOnce, false}),
                         test::RowNames({"UserRun", "MachineRun", "UserRunOnce", "MachineRunOnce",
                                         "ServiceRun", "ServiceRunOnce"}));

TEST_F(AutoExecTest, UnregisterTellsAMissingFolderFromAMissingEntry)
{
    TkitAutoExecOutcome outcome = aeoDone;
    EXPECT_FALSE(AutoExecUnregister(aekUserRun, "/opt/m/quennet", &outcome));
    EXPECT_EQ(outcome, aeoMissing);
    fs::create_directories(userDir);
    EXPECT_TRUE(AutoExecUnregister(aekUserRun, "/opt/m/quennet", &outcome));
    // A path that names no file cannot name an entry.
    EXPECT_FALSE(AutoExecRegister(aekUserRun, "/opt/m/", &outcome));
    EXPECT_EQ(outcome, aeoFailed);
}

TEST_F(AutoExecTest, AFolderWithoutRightsIsAFailureNeverASuccess)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may change any folder";
    fs::create_directories(machineDir);
    ASSERT_TRUE(AutoExecRegister(aekMachineRun, "/opt/m/quennet"));
    fs::permissions(machineDir, fs::perms::owner_read | fs::perms::owner_exec);
    TkitAutoExecOutcome outcome = aeoDone;
    EXPECT_FALSE(AutoExecUnregister(aekMachineRun, "/opt/m/quennet", &outcome));
    EXPECT_EQ(outcome, aeoNoRights);
    EXPECT_FALSE(AutoExecRegister(aekMachineRun, "/opt/m/kelvrim", &outcome));
    EXPECT_EQ(outcome, aeoNoRights);
    // A folder that cannot even be searched does not make the entry look absent.
    fs::permissions(machineDir, fs::perms::none);
    EXPECT_FALSE(AutoExecUnregister(aekMachineRun, "/opt/m/quennet", &outcome));
    EXPECT_EQ(outcome, aeoNoRights);
    fs::permissions(machineDir, fs::perms::owner_all);
    EXPECT_TRUE(fs::exists(machineDir + "quennet.desktop"));
}

TEST_F(AutoExecTest, RegWriteStringValueCreatesTheKeyOrRaisesNamingIt)
{
    RegWriteStringValue(rrkCurrentUser, "Software/Morvane", "Mode", "1");
    EXPECT_EQ(RegistryStore().ReadValue(rrkCurrentUser, "software/morvane", "mode"), "1");
    try {
        RegWriteStringValue(rrkCurrentUser, "bad]key", "Mode", "1");
        ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Unable to open the bad]key key");
    }
}

} // namespace
