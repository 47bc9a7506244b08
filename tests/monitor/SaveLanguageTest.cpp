// "Save language" writes what a fresh window reads back; the help command opens the
// shipped pages or says where they are missing.
#include "MonitorFixture.h"
#include "monitor/TForm3.h"
#include "support/LanguageFiles.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

namespace morvane::test {

namespace {

class SaveLanguageTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        WriteFile(env.Home() + "kelvrim.ini", "[Basic]\n_Developer=1\nLanguage=Testish\n");
        agent.Block()->Settings.Language.Set("Testish");
    }
};

} // namespace

TEST_F(SaveLanguageTest, AFreshWindowReadsBackEveryCaptionHintAndColumn)
{
    OpenForm();
    QAction* save = form->Action("Savelanguage1");
    ASSERT_NE(save, nullptr);
    EXPECT_TRUE(save->isVisible());
    // Texts as a translator would have set them.
    form->Action("aAdd")->setText("Neu");
    form->Action("aAdd")->setStatusTip("Neue Datei");
    form->Action("aVerDelete")->setText("Version weg");
    form->FileList()->SetColumnCaption(3, "Modus");
    form->VerList()->SetColumnCaption(2, "Zeit");
    form->Form3()->findChild<QPushButton*>("Button1")->setText("Sichern");
    save->trigger();
    const std::string file = LanguageFilePath("Testish");
    ASSERT_TRUE(FileExists(file)) << file;

    monitor::TForm1 fresh(agent.Block(), env.Home());
    EXPECT_EQ(fresh.Action("aAdd")->text(), "Add new");
    fresh.ApplyLanguage(file);
    EXPECT_EQ(fresh.Action("aAdd")->text(), "Neu");
    EXPECT_EQ(fresh.Action("aAdd")->statusTip(), "Neue Datei");
    EXPECT_EQ(fresh.Action("aVerDelete")->text(), "Version weg");
    EXPECT_EQ(fresh.Action("aProperties")->text(), "Properties");
    EXPECT_EQ(fresh.FileList()->ColumnCaption(3), "Modus");
    EXPECT_EQ(fresh.FileList()->ColumnCaption(0), "File");
    EXPECT_EQ(fresh.VerList()->ColumnCaption(2), "Zeit");
    EXPECT_EQ(fresh.Form3()->findChild<QPushButton*>("Button1")->text(), "Sichern");
}

TEST_F(MonitorFixture, SaveLanguageIsOnlyForDevelopers)
{
    OpenForm();
    EXPECT_FALSE(form->Action("Savelanguage1")->isVisible());
}

TEST_F(MonitorFixture, HelpOpensThePageOrSaysWhereItIsMissing)
{
    OpenForm();
    form->SetHelpPage([] { return std::string(); });
    form->Action("aPellaryHelp")->trigger();
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("help pages were not found"), std::string::npos) << shown[0];
    EXPECT_TRUE(opened.empty());

    // The shipped pages, as the build puts them beside the programs.
    const std::string page = std::string(MORVANE_BIN) + "/_Help/PellaryHelp.html";
    form->SetHelpPage([page] { return page; });
    form->Action("aPellaryHelp")->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(NamePart(opened[0].Document), "PellaryHelp.html");
    EXPECT_TRUE(FileExists(opened[0].Document));
    EXPECT_NE(ReadFile(opened[0].Document).find("Moving the versions"), std::string::npos);
}

} // namespace morvane::test
