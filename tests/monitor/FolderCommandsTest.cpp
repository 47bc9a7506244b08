// The folder commands: the request each sends, and that the tree changes only with the
// agent's answer.
#include "MonitorFixture.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/TAboutBox.h"
#include "monitor/TForm2.h"
#include "monitor/TForm8.h"
#include "support/components/ModalDialogs.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

namespace morvane::test {
namespace {

class FolderCommandsTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
        file = StoreFile("report.txt", "240101123");
        folder = env.Work();
        OpenForm();
        form->FoldersTree()->setCurrentItem(form->FindNode(folder));
        agent.ClearReceived();
        MessageBoxes::TakeShownTexts();
    }
    void TearDown() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
    }

    // The next folder options dialog: change runs on it, then OK (or Cancel).
    static void AnswerForm8(std::function<void(QDialog&)> change, bool ok = true)
    {
        ModalDialogs::PushHandler([change, ok](QDialog& dialog) {
            if (change)
                change(dialog);
            dialog.findChild<QPushButton*>(ok ? "Button4" : "Button5")->click();
        });
    }

    TMonItemRecord file;
    std::string folder;
};

TEST_F(FolderCommandsTest, AddSendsTheFolderAndShowsItOnlyWithTheAnswer)
{
    const std::string added = env.Work() + "photos";
    std::filesystem::create_directories(added);
    TQdFolderDialog::PushAnswer(added);
    AnswerForm8([](QDialog& d) {
        d.findChild<QRadioButton*>("rTemplates")->setChecked(true);
        d.findChild<QLineEdit*>("eNewTemplate")->setText("*.jpg");
        d.findChild<QPushButton*>("bAddNewTemplate")->click();
        d.findChild<QLineEdit*>("eWait")->setText("12");
        d.findChild<QCheckBox*>("cbHidden")->setChecked(true);
    });
    Trigger("aAddFolder");

    ASSERT_TRUE(agent.WaitFor(MsgAdd));
    const TMonItemRecord sent = agent.Block()->ItemRecord;
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    EXPECT_EQ(sent.Path.Get(), added + "/");
    EXPECT_TRUE(sent.IsFolder);
    EXPECT_TRUE(sent.Monitored);
    EXPECT_TRUE(sent.UseTemplates);
    EXPECT_FALSE(sent.IsWholeFolder);
    EXPECT_TRUE(sent.FolderMonHidden);
    EXPECT_EQ(sent.FolderWait, 12);
    EXPECT_EQ(sent.Templates.Get(), "*.jpg;");
    EXPECT_TRUE(IsPlainFolderName(sent.FileID.Get()));
    EXPECT_EQ(form->FindNode(added + "/"), nullptr);

    ASSERT_TRUE(agent.Report(MsgAdd, sent));
    ASSERT_TRUE(WaitUntil([&] { return form->FindNode(added + "/") != nullptr; }));
    EXPECT_EQ(form->FoldersTree()->currentItem(), form->FindNode(added + "/"));
}

// The browse dialog opens in the user's home folder, a typed name holding quotes reaches
// the agent whole, and the next browse starts where the last one ended.
TEST_F(FolderCommandsTest, BrowseStartsAtHomeAndTakesATypedQuotedNameWhole)
{
    const std::string added = env.Work() + "say \"hi\" there";
    std::filesystem::create_directories(added);
    std::string startedIn;
    const auto type = [&](const std::string& text) {
        ModalDialogs::PushHandler([&startedIn, text](QDialog& shown) {
            auto& dialog = static_cast<QFileDialog&>(shown);
            startedIn = dialog.directory().absolutePath().toStdString();
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(text));
            shown.accept();
        });
    };
    type(added);
    AnswerForm8(nullptr);
    Trigger("aAddFolder");
    EXPECT_EQ(startedIn, QDir::homePath().toStdString());
    ASSERT_TRUE(agent.WaitFor(MsgAdd));
    EXPECT_EQ(agent.Block()->ItemRecord.Path.Get(), added + "/");
    agent.ClearReceived();

    ModalDialogs::PushHandler([&](QDialog& shown) {
        startedIn = static_cast<QFileDialog&>(shown).directory().absolutePath().toStdString();
    });
    Trigger("aReassignFolder");
    EXPECT_EQ(startedIn, added);
    EXPECT_TRUE(agent.NothingArrives());
}

struct CancelCase
{
    const char* Name;
    bool FolderChosen;
};

class FolderCommandsCancel : public FolderCommandsTest, public ::testing::WithParamInterface<CancelCase>
{
};

TEST_P(FolderCommandsCancel, CancelSendsNothing)
{
    if (GetParam().FolderChosen) {
        TQdFolderDialog::PushAnswer(env.Work());
        AnswerForm8(nullptr, false);
    } else {
        TQdFolderDialog::PushAnswer(std::nullopt);
    }
    Trigger(GetParam().Name);
    EXPECT_TRUE(agent.NothingArrives());
    EXPECT_EQ(form->Items().FolderCount(), 1);
    EXPECT_EQ(form->Items().FolderByPath(folder)->Path(), folder);
}

INSTANTIATE_TEST_SUITE_P(Commands, FolderCommandsCancel,
                         ::testing::Values(CancelCase{"aAddFolder", false}, CancelCase{"aAddFolder", true},
                                           CancelCase{"aReassignFolder", false}),
                         test::RowNamesBy(&CancelCase::Name, &CancelCase::FolderChosen));

TEST_F(FolderCommandsTest, PropertiesSendTheOptionsAndAStopOfTheFolder)
{
    std::string caption;
    AnswerForm8([&caption](QDialog& d) {
        caption = d.windowTitle().toStdString();
        d.findChild<QRadioButton*>("rWholeFolder")->setChecked(true);
        d.findChild<QCheckBox*>("cbMonitored")->setChecked(false);
    });
    Trigger("aFolderProperties");
    EXPECT_EQ(caption, folder + " settings");
    ASSERT_TRUE(agent.WaitFor(MsgUpdate));
    const auto stop = agent.WaitFor(MsgStop);
    ASSERT_TRUE(stop);
    const auto messages = agent.Received();
    EXPECT_EQ(messages.front().Msg, agent.Id(MsgUpdate));
    EXPECT_EQ(messages.front().WParam, 0u);
    // The copy takes the options with the agent's answer only.
    EXPECT_FALSE(form->Items().FolderByPath(folder)->Data().IsWholeFolder);
    TMonItemRecord answered = form->Items().FolderByPath(folder)->Data();
    answered.IsWholeFolder = true;
    ASSERT_TRUE(agent.Report(MsgAdd, answered));
    EXPECT_TRUE(WaitUntil([&] { return form->Items().FolderByPath(folder)->Data().IsWholeFolder; }));
    // The folder's node is drawn grey once the agent has answered the stop.
    ASSERT_TRUE(agent.Report(MsgStop, form->Items().FolderByPath(folder)->Data()));
    EXPECT_TRUE(
        WaitUntil([&] { return form->FindNode(folder)->foreground(0).color() == QColor(128, 128, 128); }));
}

TEST_F(FolderCommandsTest, ACorruptFolderSectionOpensWithDefaults)
{
    IniFile list(ListFile());
    list.WriteString(folder, "FolderWait", "99999");
    list.WriteString(folder, "Templates", "*.txt;;*.odt;");
    list.Flush();
    form.reset();
    window.reset();
    OpenForm();
    form->FoldersTree()->setCurrentItem(form->FindNode(folder));
    std::string wait;
    int rows = -1;
    ModalDialogs::PushHandler([&](QDialog& d) {
        wait = d.findChild<QLineEdit*>("eWait")->text().toStdString();
        rows = d.findChild<QTreeWidget*>("lvTemplates")->topLevelItemCount();
    });
    Trigger("aFolderProperties");
    EXPECT_EQ(wait, "3");
    EXPECT_EQ(rows, 2);
    EXPECT_TRUE(agent.NothingArrives());
}

TEST_F(FolderCommandsTest, AFolderGoneFromDiskStillOpensAndSends)
{
    std::filesystem::remove_all(folder);
    bool shown = false;
    AnswerForm8([&shown](QDialog&) { shown = true; });
    Trigger("aFolderProperties");
    EXPECT_TRUE(shown);
    EXPECT_TRUE(agent.WaitFor(MsgUpdate));
}

struct LanguageCase
{
    const char* Text;
    const char* Form8Ok;
    const char* Form2Save;
};

class FolderCommandsLanguage : public FolderCommandsTest, public ::testing::WithParamInterface<LanguageCase>
{
};

TEST_P(FolderCommandsLanguage, DialogsTakeTheTextsTheFileHasAndKeepTheRest)
{
    const std::string file = env.Home() + "Langs/Test.ini";
    WriteFile(file, GetParam().Text);
    form->ApplyLanguage(file);
    EXPECT_EQ(form->Form8()->findChild<QPushButton*>("Button4")->text().toStdString(), GetParam().Form8Ok);
    EXPECT_EQ(form->Form2()->findChild<QPushButton*>("SaveButton")->text().toStdString(),
              GetParam().Form2Save);
    // The about box's version line is its own in every language.
    EXPECT_EQ(form->AboutBox()->findChild<QLabel*>("VersionLabel")->text().toStdString(),
              "Version " MORVANE_VERSION);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FolderCommandsLanguage,
    ::testing::Values(LanguageCase{"[SystemMessages]\nMakeAlways=Immer\n", "OK", "Save options"},
                      LanguageCase{"[Form8]\nButton4.Caption=Gut\n[Form2]\nSaveButton.Caption=Sichern\n"
                                   "[AboutBox]\nVersionLabel.Caption=Fassung\n",
                                   "Gut", "Sichern"},
                      LanguageCase{"garbage without sections\n[Form8\n", "OK", "Save options"}),
    test::RowNamesBy(&LanguageCase::Form8Ok, &LanguageCase::Form2Save));

TEST_F(FolderCommandsTest, DeleteAsksTheAgentAndTheNodeGoesWithItsAnswer)
{
    Trigger("aDeleteFolder");
    ASSERT_TRUE(agent.WaitFor(MsgDelete));
    EXPECT_EQ(std::string(agent.LastPathArg()), folder);
    EXPECT_NE(form->FindNode(folder), nullptr);
    EXPECT_EQ(form->Items().FolderCount(), 1);

    ASSERT_TRUE(agent.Report(MsgDelete, form->Items().FolderByPath(folder)->Data()));
    ASSERT_TRUE(WaitUntil([&] { return form->FindNode(folder) == nullptr; }));
}

TEST_F(FolderCommandsTest, ReassignMovesFolderAndMembersOnlyWithTheAnswer)
{
    const std::string target = env.Work() + "moved";
    std::filesystem::create_directories(target);
    TQdFolderDialog::PushAnswer(target);
    Trigger("aReassignFolder");
    ASSERT_TRUE(agent.WaitFor(MsgUpdate));
    TMonItemRecord sent = agent.Block()->ItemRecord;
    EXPECT_EQ(sent.Path.Get(), target + "/");
    EXPECT_TRUE(sent.Monitored);
    EXPECT_EQ(sent.MonStatus, msActive);
    EXPECT_EQ(form->Items().FolderByPath(folder)->Path(), folder);
    EXPECT_EQ(form->FindNode(target + "/"), nullptr);

    // The agent took it: its ADD answer carries the moved folder.
    ASSERT_TRUE(agent.Report(MsgAdd, sent));
    ASSERT_TRUE(WaitUntil([&] { return form->FindNode(target + "/") != nullptr; }));
    EXPECT_EQ(form->FindNode(folder), nullptr);
    EXPECT_EQ(form->Items().FolderCount(), 1);
    EXPECT_NE(form->Items().FileByPath(target + "/report.txt"), nullptr);
    EXPECT_GE(form->RowOfPath(target + "/report.txt"), 0);
}

TEST_F(FolderCommandsTest, FolderActionsNeedANodeThatIsAFolder)
{
    QTreeWidgetItem* node = form->FindNode(folder);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->parent(), nullptr);
    const std::vector<std::pair<QTreeWidgetItem*, bool>> cases{{node, true}, {node->parent(), false}};
    for (const auto& [current, enabled] : cases) {
        form->FoldersTree()->setCurrentItem(current);
        form->UpdateActions();
        for (const char* name : {"aFolderProperties", "aDeleteFolder", "aReassignFolder"})
            EXPECT_EQ(form->Action(name)->isEnabled(), enabled) << name;
        EXPECT_TRUE(form->Action("aAddFolder")->isEnabled());
    }
}

TEST_F(FolderCommandsTest, CloseWhileADialogIsOpenRejectsItFirst)
{
    bool closed = false;
    form->SetOnClosed([&] { closed = true; });
    form->show();
    bool rejectedInside = false;
    ModalDialogs::PushHandler([&](QDialog& d) {
        ASSERT_TRUE(agent.Report(MsgClose));
        rejectedInside = WaitUntil([&] { return !d.isVisible(); });
        // The window waits for the dialog's command to end.
        EXPECT_FALSE(closed);
    });
    Trigger("aFolderProperties");
    EXPECT_TRUE(rejectedInside);
    ASSERT_TRUE(WaitUntil([&] { return closed; }));
    EXPECT_TRUE(agent.NothingArrives());
}

TEST_F(FolderCommandsTest, PropertiesOfAFileShowItsNameAndRedrawItsRow)
{
    ASSERT_GE(SelectFile(file.Path.Get()), 0);
    std::string caption;
    ModalDialogs::PushHandler([&](QDialog& d) {
        caption = d.windowTitle().toStdString();
        d.findChild<QLineEdit*>("DelNumberEdit")->setText("4");
        d.findChild<QPushButton*>("SaveButton")->click();
    });
    Trigger("aProperties");
    EXPECT_EQ(caption, "Properties of report.txt");
    ASSERT_TRUE(agent.WaitFor(MsgUpdate));
    EXPECT_EQ(Column(form->RowOfPath(file.Path.Get()), 3), "0/4");
}

} // namespace
} // namespace morvane::test
