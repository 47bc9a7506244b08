#include "agent/AgentSettings.h"

#include "common/TestSupport.h"
#include "platform/IniFile.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace morvane;
using morvane::test::WriteFile;

namespace {

class AgentSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { IniFile::ClearCache(); }

    SharedBlock& Load()
    {
        settings.LoadSettings(*block);
        return *block;
    }

    test::TestEnv env;
    AgentSettings settings{env.Home()};
    std::unique_ptr<SharedBlock> block = std::make_unique<SharedBlock>();
};

} // namespace

TEST_F(AgentSettingsTest, WithoutSettingsFileEveryKeyTakesItsDefault)
{
    block->AgentBusy = true;
    block->AddHandshake = true;
    const SharedBlock& b = Load();
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Home() + "backup/");
    EXPECT_TRUE(std::filesystem::is_directory(env.Home() + "backup/")) << "created at start";
    EXPECT_TRUE(b.Settings.ShowDate);
    EXPECT_TRUE(b.Settings.ShowFileName);
    EXPECT_TRUE(b.Settings.LimitShow);
    EXPECT_TRUE(b.Settings.ShowBaloon);
    EXPECT_EQ(b.Settings.LimitShowNumber, 10);
    EXPECT_EQ(b.Settings.DateFormat.Get(), AgentSettings::LocaleDateTimeFormat());
    EXPECT_EQ(b.Settings.Language.Get(), "English");
    EXPECT_FALSE(b.AgentBusy);
    EXPECT_FALSE(b.AddHandshake);
    // No language file: the built-in English texts.
    EXPECT_EQ(b.Text(TxtMesSystemFolder), "You can't monitor application directory");
    EXPECT_EQ(b.Text(TxtStatusBarNoFiles), "  No files monitored now");
    EXPECT_EQ(b.Text(TxtMesBrokenFile).substr(0, 15), " can not be fou");
    EXPECT_TRUE(b.Texts[TxtReserved24].Empty());
}

TEST_F(AgentSettingsTest, KeysOfTheSettingsFileReachTheBlock)
{
    WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nBackupPath=" + env.Work() +
                                              "store\nShowBaloon=0\nLanguage=Klingon\n"
                                              "[ExplorerMenu]\nShowDate=0\nDateFormat=yyyy-mm-dd\n"
                                              "ShowFileName=0\nLimitShow=0\nLimitShowNumber=0x20\n");
    const SharedBlock& b = Load();
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Work() + "store/");
    EXPECT_TRUE(std::filesystem::is_directory(env.Work() + "store/"));
    EXPECT_FALSE(b.Settings.ShowBaloon);
    EXPECT_FALSE(b.Settings.ShowDate);
    EXPECT_FALSE(b.Settings.ShowFileName);
    EXPECT_FALSE(b.Settings.LimitShow);
    EXPECT_EQ(b.Settings.LimitShowNumber, 32);
    EXPECT_EQ(b.Settings.DateFormat.Get(), "yyyy-mm-dd");
    // A named language is used even without its file; its texts are the defaults.
    EXPECT_EQ(b.Settings.Language.Get(), "Klingon");
    EXPECT_EQ(b.Text(TxtMenuAdd), "Add versioning");
}

TEST_F(AgentSettingsTest, CorruptSettingsFileGivesDefaults)
{
    WriteFile(env.Home() + "kelvrim.ini",
              std::string("\x00\xff[Basic\nShowBaloon=yes please\n[ExplorerMenu]\n"
                          "LimitShowNumber=ten\n=\n[[[\n",
                          60));
    const SharedBlock& b = Load();
    EXPECT_TRUE(b.Settings.ShowBaloon);
    EXPECT_EQ(b.Settings.LimitShowNumber, 10);
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Home() + "backup/");
}

TEST_F(AgentSettingsTest, LanguageFileTextsAreFoundWithoutRegardToCaseAndCutOnACharacter)
{
    WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nLanguage=GERMAN\n");
    // 254 ASCII bytes then a two-byte character: the cut at 255 must not split it.
    const std::string longText = std::string(254, 'x') + "\xc3\xa4" + "tail";
    WriteFile(env.Home() + "Langs/German.ini",
              "[SystemMessages]\nMenuAdd=Versionierung\nMenuDelete=" + longText + "\n");
    const SharedBlock& b = Load();
    EXPECT_EQ(b.Settings.Language.Get(), "GERMAN");
    EXPECT_EQ(b.Text(TxtMenuAdd), "Versionierung");
    EXPECT_EQ(b.Text(TxtMenuDelete), std::string(254, 'x'));
    EXPECT_EQ(b.Text(TxtMenuStart), "Start") << "a key the file lacks keeps its default";
}

TEST_F(AgentSettingsTest, OverLongBackupPathIsNeverSharedCut)
{
    const std::string longRoot = env.Work() + std::string(240, 'b') + "/";
    WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nBackupPath=" + longRoot + "\n");
    const SharedBlock& b = Load();
    EXPECT_TRUE(b.Settings.BackupPath.Empty());
    EXPECT_EQ(settings.BackupRoot(), longRoot);
}

TEST_F(AgentSettingsTest, UncreatableBackupFolderLeavesTheAgentRunning)
{
    WriteFile(env.Work() + "file", "x");
    WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nBackupPath=" + env.Work() + "file/sub/\n");
    const SharedBlock& b = Load();
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Work() + "file/sub/");
    EXPECT_FALSE(std::filesystem::exists(env.Work() + "file/sub"));
    EXPECT_EQ(b.Text(TxtMenuAdd), "Add versioning");
}

TEST(AgentSettingsFormat, LocaleFormatUsesTheCodesOfDateFormat)
{
    const std::string format = AgentSettings::LocaleDateTimeFormat();
    EXPECT_EQ(format.find('M'), std::string::npos) << format;
    EXPECT_EQ(format.find('H'), std::string::npos) << format;
    EXPECT_NE(format.find('n'), std::string::npos) << "minutes are n: " << format;
    EXPECT_NE(format.find(' '), std::string::npos) << format;
}

TEST_F(AgentSettingsTest, RelativeBackupPathLiesInTheHomeFolderNotTheWorkingFolder)
{
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::create_directories(env.Work() + "elsewhere");
    std::filesystem::current_path(env.Work() + "elsewhere");
    WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nBackupPath=store/deep\n");
    const SharedBlock& b = Load();
    std::filesystem::current_path(before);
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Home() + "store/deep/");
    EXPECT_TRUE(std::filesystem::is_directory(env.Home() + "store/deep"));
    EXPECT_FALSE(std::filesystem::exists(env.Work() + "elsewhere/store"));
}
