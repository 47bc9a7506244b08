// The shipped English language file and "Save language": a translation made from the
// shipped file reaches every caption and hint of every window, and what the windows
// show while they run never becomes part of a language.
#include "MonitorFixture.h"
#include "monitor/MonitorLanguage.h"
#include "monitor/TForm2.h"
#include "monitor/TForm3.h"
#include "monitor/TForm8.h"
#include "support/LanguageFiles.h"
#include "support/components/ModalDialogs.h"

#include <QApplication>
#include <QDialog>

namespace morvane::test {
namespace {

class LanguageFileTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        ModalDialogs::Reset();
        WriteFile(env.Home() + "kelvrim.ini", "[Basic]\n_Developer=1\nLanguage=Testish\n");
        agent.Block()->Settings.Language.Set("Testish");
        agent.Block()->Settings.BackupPath.Set(BackupRoot());
    }
    void TearDown() override { ModalDialogs::Reset(); }

    // What "Save language" writes for the window as it is now.
    std::string Saved()
    {
        form->Action("Savelanguage1")->trigger();
        EXPECT_TRUE(MessageBoxes::TakeShownTexts().empty());
        return LanguageFilePath("Testish");
    }

    static std::string Shipped() { return std::string(MORVANE_SOURCE_DIR) + "/langs/English.ini"; }
};

TEST_F(LanguageFileTest, TheShippedEnglishFileHoldsEveryCaptionAndHintAsBuilt)
{
    OpenForm();
    const IniFile saved(Saved());
    const IniFile shipped(Shipped());
    std::vector<std::string> missing;
    std::size_t keys = 0;
    for (const std::string& section : saved.ReadSections()) {
        for (const std::string& key : saved.ReadKeys(section)) {
            ++keys;
            const std::string built = saved.ReadString(section, key, "");
            const std::string ships = shipped.ReadString(section, key, "\x01");
            if (ships != built)
                missing.push_back("[" + section + "] " + key + "=" + built +
                                  (ships == "\x01" ? "  (missing)" : "  (ships: " + ships + ")"));
        }
    }
    // Every window said something: the main window, its columns and its five dialogs.
    for (const char* section : {"Form1", "Panel1", "Form2", "Form3", "Form5", "Form8", "AboutBox"})
        EXPECT_FALSE(saved.ReadKeys(section).empty()) << section;
    EXPECT_GT(keys, 100u);
    // Each dialog's texts are in its own section only, never also in its owner's, where
    // a name two dialogs share ("Label1") would give one of them the other's text.
    for (const char* dialog : {"Form2", "Form3", "Form5", "Form8", "AboutBox"})
        for (const std::string& key : saved.ReadKeys(dialog))
            EXPECT_EQ(saved.ReadString("Form1", key, "\x01"), "\x01") << dialog << " " << key;
    // And the texts of the window's own boxes.
    for (const monitor::MonitorTextInfo& info : monitor::kMonitorTexts)
        if (shipped.ReadString(monitor::kMonitorTextSection, info.Key, "") != info.Default)
            missing.push_back(std::string("[") + monitor::kMonitorTextSection + "] " + info.Key + "=" +
                              info.Default);
    std::string list;
    for (const std::string& line : missing)
        list += line + "\n";
    EXPECT_TRUE(missing.empty()) << "langs/English.ini does not hold:\n" << list;
}

TEST_F(LanguageFileTest, TheBuiltInTextsAreSpelledRightAndNameThisDesktop)
{
    OpenForm();
    const std::string text = ReadFile(Saved()) + ReadFile(Shipped());
    for (const char* wrong : {"Reassing=", "=Reassing", "confiramtion", "exucuter", "direcory", "Can't found",
                              "set for startup", "Windows", "Explorer"})
        EXPECT_EQ(text.find(wrong), std::string::npos) << wrong;
    // The flag letters of the make modes come from these captions and stay A, C and S.
    const IniFile shipped(Shipped());
    for (const auto& [key, letter] :
         {std::pair{"MakeAskCheck.Caption", "(A)"}, std::pair{"MakeCompareCheck.Caption", "(C)"},
          std::pair{"MakeSizeCheck.Caption", "(S)"}}) {
        const std::string caption = shipped.ReadString("Form2", key, "");
        EXPECT_NE(caption.find(letter), std::string::npos) << key << "=" << caption;
    }
}

// Texts the windows set while they run: counts, paths, the file or folder a dialog shows,
// the version and address of the about box.
struct RunTimeCase
{
    const char* Section;
    const char* Key;
};

class RunTimeTexts : public LanguageFileTest, public ::testing::WithParamInterface<RunTimeCase>
{
};

TEST_P(RunTimeTexts, AreNeverSavedNorTakenFromALanguageFile)
{
    const RunTimeCase& c = GetParam();
    const TMonItemRecord file = StoreFile("report.txt", "240101123");
    OpenForm();
    // Every window shows what it shows for a file and a folder.
    ASSERT_GE(SelectFile(file.Path.Get()), 0);
    ModalDialogs::PushHandler([](QDialog&) {});
    form->PropertiesClick();
    ModalDialogs::PushHandler([](QDialog&) {});
    Trigger("aFolderProperties");
    ModalDialogs::PushHandler([](QDialog&) {});
    form->OptionsClick();
    const QString status = form->StatusText();
    ASSERT_NE(status.indexOf("1"), -1) << status.toStdString();

    const std::string saved = Saved();
    const std::string text = ReadFile(saved);
    EXPECT_EQ(IniFile(saved).ReadString(c.Section, c.Key, "\x01"), "\x01") << text;
    EXPECT_EQ(text.find(env.Work()), std::string::npos) << text;
    EXPECT_EQ(text.find(BackupRoot()), std::string::npos) << text;

    // A file written before with such a key does not change what the window shows.
    WriteFile(saved, std::string("[") + c.Section + "]\n" + c.Key + "=stale\n");
    IniFile::ClearCache();
    form->ApplyLanguage(saved);
    ModalDialogs::PushHandler([](QDialog&) {});
    form->PropertiesClick();
    ModalDialogs::PushHandler([](QDialog&) {});
    form->OptionsClick();
    EXPECT_EQ(form->StatusText(), status);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_NE(window->windowTitle(), "stale") << window->objectName().toStdString();
        for (const QLabel* label : window->findChildren<QLabel*>())
            EXPECT_NE(label->text(), "stale") << label->objectName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RunTimeTexts,
    ::testing::Values(RunTimeCase{"Form1", "StatusPanel0.Caption"},
                      RunTimeCase{"Form1", "AgentStatePanel.Caption"}, RunTimeCase{"Form2", "Form2.Caption"},
                      RunTimeCase{"Form3", "BackuppathLabel.Caption"}, RunTimeCase{"Form8", "Form8.Caption"},
                      RunTimeCase{"AboutBox", "VersionLabel.Caption"},
                      RunTimeCase{"AboutBox", "Label4.Caption"}),
    [](const auto& info) {
        return std::string(info.param.Section) + "_" +
               std::string(info.param.Key).substr(0, std::string(info.param.Key).find('.'));
    });

} // namespace
} // namespace morvane::test
