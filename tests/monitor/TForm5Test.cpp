#include "monitor/TForm5.h"

#include "common/TestSupport.h"
#include "engine/TRKMonItems.h"
#include "platform/IniFile.h"
#include "support/components/MessageBoxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::monitor;
namespace fs = std::filesystem;

namespace {

class TForm5Test : public ::testing::Test
{
protected:
    test::TestEnv env;
    TRKMonItems items{nullptr, nullptr, env.Home()};
    TForm5 form{nullptr, items};
    std::string place = env.Work() + "place/";

    void SetUp() override
    {
        MessageBoxes::Reset();
        fs::create_directories(place + "backup");
        form.SetBackupPath(place + "backup/");
    }
    void TearDown() override { MessageBoxes::Reset(); }
};

} // namespace

TEST_F(TForm5Test, OpensBesideTheBackupFolderAndBrowses)
{
    form.FormShow();
    EXPECT_EQ(form.CurrentFolder(), place);
    EXPECT_EQ(form.SelectedFolder(), place + "backup");
    form.FolderUpClick();
    EXPECT_EQ(form.CurrentFolder(), env.Work());
    form.SetCurrentFolder("/");
    form.FolderUpClick();
    EXPECT_EQ(form.CurrentFolder(), "/");
    // A typed path is shown selected; one that is no folder is said, and Enter never moves.
    auto* path = form.findChild<QLineEdit*>("PathEdit");
    path->setText(QString::fromStdString(place + "backup/"));
    form.PathEditReturn();
    EXPECT_EQ(form.CurrentFolder(), place);
    EXPECT_EQ(form.SelectedFolder(), place + "backup");
    path->setText(QString::fromStdString(place + "none"));
    form.PathEditReturn();
    EXPECT_EQ(MessageBoxes::TakeShownTexts().size(), 1u);
    EXPECT_EQ(form.CurrentFolder(), place);
    EXPECT_FALSE(form.findChild<QPushButton*>("ChangeButton")->isDefault());
    EXPECT_FALSE(form.findChild<QPushButton*>("ChangeButton")->autoDefault());
    // Compression is offered only where the file system has it.
    EXPECT_EQ(form.findChild<QCheckBox*>("SetCompressionCheck")->isChecked(),
              form.findChild<QCheckBox*>("SetCompressionCheck")->isEnabled());
}

TEST_F(TForm5Test, AnUnfinishedMoveOpensAtItsFolderAndSaysSo)
{
    fs::create_directories(env.Work() + "other/target");
    test::WriteFile(env.Home() + "kelvrim.ini", "[Basic]\nMoveTo=" + env.Work() + "other/target/\n");
    IniFile::ClearCache();
    form.FormShow();
    EXPECT_EQ(form.CurrentFolder(), env.Work() + "other/");
    EXPECT_EQ(form.SelectedFolder(), env.Work() + "other/target");
    EXPECT_FALSE(form.findChild<QLabel*>("UnfinishedMoveLabel")->isHidden());
}

TEST_F(TForm5Test, NewFolderNamesNeverTakeAnExistingOne)
{
    form.SetCurrentFolder(place);
    fs::create_directories(place + "MVBackup");
    form.FolderNewClick();
    EXPECT_EQ(form.SelectedFolder(), place + "Copy MVBackup");
    form.FolderNewClick();
    EXPECT_EQ(form.SelectedFolder(), place + "Copy Copy MVBackup");
    EXPECT_TRUE(fs::is_directory(place + "Copy Copy MVBackup"));
}

TEST_F(TForm5Test, ChangeWithNothingStoredNamesTheFolderAtOnce)
{
    fs::create_directories(place + "target");
    form.SetCurrentFolder(place);
    form.ChangeButtonClick(); // nothing selected: nothing happens
    EXPECT_EQ(form.result(), QDialog::Rejected);
    form.SelectFolder("target");
    form.ChangeButtonClick();
    EXPECT_EQ(form.LastResult().Outcome, BackupMoveResult::Done) << form.LastResult().Text;
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.BackupPath(), place + "target/");
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(env.Home() + "kelvrim.ini").ReadString("Basic", "BackupPath", ""), place + "target/");
}
