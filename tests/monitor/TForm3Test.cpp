// The system options dialog and the about box: what they show, the settings written and
// the agent told, and a settings file that cannot be written.
#include "monitor/TForm3.h"

#include "DialogInput.h"
#include "MonitorFixture.h"
#include "monitor/TAboutBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <filesystem>

namespace morvane::test {
namespace {

using monitor::TForm3;

class TForm3Test : public ::testing::Test
{
protected:
    TForm3Test() : agent(env.Home())
    {
        MessageBoxes::Reset();
        IniFile::ClearCache();
        for (const char* file : {"English.ini", "Deutsch.ini", "notes.txt"})
            WriteFile(env.Home() + "Langs/" + file, "[Form3]\nButton1.Caption=Speichern\n");
        std::filesystem::create_directories(env.Home() + "Langs/old.ini");
        SharedSettings& s = agent.Block()->Settings;
        s.Language.Set("ENGLISH");
        s.DateFormat.Set("yyyy");
        s.ShowDate = true;
        s.LimitShowNumber = 0;
        s.BackupPath.Set(env.Home() + "backup/");
    }

    std::unique_ptr<TForm3> Make()
    {
        auto dialog = std::make_unique<TForm3>(agent.Block(), env.Home());
        dialog->SetOnLanguageChanged([this](const std::string& file) { languageFiles.push_back(file); });
        return dialog;
    }

    std::string Setting(const char* section, const char* key)
    {
        IniFile::ClearCache();
        return IniFile(env.Home() + "kelvrim.ini").ReadString(section, key, "<none>");
    }

    TestEnv env;
    FakeAgent agent;
    std::vector<std::string> languageFiles;
};

TEST_F(TForm3Test, ListsTheLanguageFilesAndSelectsTheAgentsLanguage)
{
    auto dialog = Make();
    auto* combo = dialog->findChild<QComboBox*>("LangCombo");
    ASSERT_NE(combo, nullptr);
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemText(i);
    EXPECT_EQ(names, QStringList({"Deutsch", "English"}));
    EXPECT_EQ(combo->currentText().toStdString(), "English");

    // A file dropped in later is offered at the next opening; the user's choice stays.
    combo->setCurrentIndex(0);
    WriteFile(env.Home() + "Langs/Suomi.ini", "");
    dialog->show();
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2).toStdString(), "Suomi");
    EXPECT_EQ(combo->currentText().toStdString(), "Deutsch");
}

TEST_F(TForm3Test, ShowsTheBlocksSettingsWithALiveSample)
{
    auto dialog = Make();
    dialog->show();
    EXPECT_EQ(dialog->findChild<QLineEdit*>("LimitShowNumber")->text().toStdString(), "1");
    EXPECT_EQ(dialog->findChild<QLabel*>("BackuppathLabel")->text().toStdString(), env.Home() + "backup/");
    EXPECT_EQ(dialog->SampleText(), QString::number(QDate::currentDate().year()));
    dialog->findChild<QLineEdit*>("DateFormatEdit")->setText("\"at\" yy");
    EXPECT_EQ(dialog->SampleText(),
              "at " + QString::number(QDate::currentDate().year() % 100).rightJustified(2, '0'));
    // Unchecking the date leaves format and sample greyed, the limit field follows its box.
    dialog->findChild<QCheckBox*>("ShowDateCheck")->setChecked(false);
    EXPECT_FALSE(dialog->findChild<QWidget*>("DateFormatEdit")->isEnabled());
    EXPECT_FALSE(dialog->findChild<QWidget*>("LimitShowNumber")->isEnabled());
}

TEST_F(TForm3Test, LimitFieldHoldsOneToThreeDigits)
{
    auto dialog = Make();
    auto* limit = dialog->findChild<QLineEdit*>("LimitShowNumber");
    limit->setText("7");
    Backspaces(limit, 1);
    EXPECT_EQ(limit->text().toStdString(), "1");
    limit->setText("0");
    EXPECT_EQ(limit->text().toStdString(), "1");
    limit->setText("");
    TypeKeys(limit, "2345");
    EXPECT_EQ(limit->text().toStdString(), "123");
}

struct SaveCase
{
    const char* Language; // combo text to choose, "" for none
    bool LanguageChanged;
};

class TForm3Saves : public TForm3Test, public ::testing::WithParamInterface<SaveCase>
{
};

TEST_P(TForm3Saves, WritesTheSevenKeysAndPostsReinit)
{
    const SaveCase& c = GetParam();
    auto dialog = Make();
    dialog->show();
    auto* combo = dialog->findChild<QComboBox*>("LangCombo");
    combo->setCurrentIndex(combo->findText(c.Language));
    dialog->findChild<QCheckBox*>("ShowBaloon")->setChecked(true);
    dialog->findChild<QCheckBox*>("ShowFileNameCheck")->setChecked(false);
    dialog->findChild<QCheckBox*>("LimitShowCheck")->setChecked(true);
    dialog->findChild<QLineEdit*>("LimitShowNumber")->setText("25");
    dialog->findChild<QLineEdit*>("DateFormatEdit")->setText("dd.mm.yyyy hh:nn");
    dialog->findChild<QPushButton*>("Button1")->click();

    ASSERT_TRUE(agent.WaitFor(MsgReinit));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Setting("Basic", "Language"), c.Language);
    EXPECT_EQ(Setting("Basic", "ShowBaloon"), "1");
    EXPECT_EQ(Setting("ExplorerMenu", "ShowDate"), "1");
    EXPECT_EQ(Setting("ExplorerMenu", "DateFormat"), "dd.mm.yyyy hh:nn");
    EXPECT_EQ(Setting("ExplorerMenu", "ShowFileName"), "0");
    EXPECT_EQ(Setting("ExplorerMenu", "LimitShow"), "1");
    EXPECT_EQ(Setting("ExplorerMenu", "LimitShowNumber"), "25");
    EXPECT_EQ(Setting("Basic", "BackupPath"), "<none>");
    EXPECT_EQ(languageFiles.size(), c.LanguageChanged ? 1u : 0u);
    if (c.LanguageChanged && *c.Language) {
        EXPECT_EQ(languageFiles[0], env.Home() + "Langs/" + c.Language + ".ini");
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, TForm3Saves,
                         ::testing::Values(SaveCase{"English", true}, // "ENGLISH" in the block differs
                                           SaveCase{"Deutsch", true}, SaveCase{"", true}),
                         test::RowNamesBy(&SaveCase::Language));

TEST_F(TForm3Test, SameLanguageSavesWithoutRelocalising)
{
    agent.Block()->Settings.Language.Set("English");
    auto dialog = Make();
    dialog->show();
    dialog->findChild<QPushButton*>("Button1")->click();
    ASSERT_TRUE(agent.WaitFor(MsgReinit));
    EXPECT_TRUE(languageFiles.empty());
}

TEST_F(TForm3Test, ASettingsFileThatCannotBeWrittenKeepsTheDialogOpen)
{
    // A folder where the file should be: no write can replace it, whoever runs the test.
    std::filesystem::create_directories(env.Home() + "kelvrim.ini");
    auto dialog = Make();
    dialog->show();
    dialog->findChild<QComboBox*>("LangCombo")->setCurrentIndex(0);
    dialog->findChild<QPushButton*>("Button1")->click();
    EXPECT_TRUE(dialog->isVisible());
    const auto texts = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Unable to write to"), std::string::npos) << texts[0];
    EXPECT_TRUE(languageFiles.empty());
    EXPECT_TRUE(agent.NothingArrives());
}

TEST(TAboutBoxTest, VersionLineAndAClickableAddress)
{
    monitor::TAboutBox box;
    EXPECT_EQ(box.findChild<QLabel*>("VersionLabel")->text().toStdString(), "Version " MORVANE_VERSION);
    auto* link = box.findChild<QLabel*>("Label4");
    ASSERT_NE(link, nullptr);
    std::vector<std::string> opened;
    box.SetOpener([&](const std::string& address) { opened.push_back(address); });

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(link, &enter);
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_FALSE(link->font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::ArrowCursor);

    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(link, &release);
    EXPECT_EQ(opened, std::vector<std::string>{monitor::TAboutBox::HomePage()});
}

} // namespace
} // namespace morvane::test
