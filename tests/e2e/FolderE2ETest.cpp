// The folder commands and the item properties with the real agent: what the user sets
// in the dialogs is what the agent then does with the files.
#include "MonitorE2EFixture.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/DirListing.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <filesystem>

namespace morvane::e2e {
namespace {

using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;
using namespace std::chrono_literals;

class FolderE2E : public MonitorE2E
{
protected:
    void SetUp() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
        StartAgent();
        StartMonitor();
    }
    void TearDown() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
    }

    // The next folder options dialog: no settling, change applied, then OK.
    static void AnswerForm8(std::function<void(QDialog&)> change = nullptr)
    {
        ModalDialogs::PushHandler([change](QDialog& d) {
            d.findChild<QLineEdit*>("eWait")->setText("0");
            if (change)
                change(d);
            d.findChild<QPushButton*>("Button4")->click();
        });
    }

    // Adds folder through the dialogs; true once the agent's answer put it in the tree.
    bool AddFolder(const std::string& folder)
    {
        std::filesystem::create_directories(folder);
        TQdFolderDialog::PushAnswer(folder);
        AnswerForm8();
        Trigger("aAddFolder");
        return WaitUntil([&] { return Form().FindNode(WithTrailingSep(folder)) != nullptr; }, 20s);
    }

    bool SelectFolder(const std::string& folder)
    {
        QTreeWidgetItem* node = Form().FindNode(folder);
        Form().FoldersTree()->setCurrentItem(node);
        return node != nullptr;
    }

    bool WaitRow(const std::string& path)
    {
        return WaitUntil([&] { return Form().Items().FileByPath(path) != nullptr; }, 30s);
    }

    // Waits until the highest-numbered version of path holds text.
    bool WaitNewestText(const std::string& path, const std::string& text)
    {
        return WaitUntil(
            [&] {
                const auto item = Form().Items().FileByPath(path);
                if (!item)
                    return false;
                const std::string backup = Form().Items().BackupRoot() + item->FileID() + "/";
                int newest = -1;
                std::string folder;
                for (const DirEntry& entry : ListDir(backup)) {
                    if (entry.IsDir && std::atoi(entry.Name.c_str()) > newest) {
                        newest = std::atoi(entry.Name.c_str());
                        folder = entry.Name;
                    }
                }
                return newest >= 0 && ReadFile(backup + folder + "/" + NamePart(path)) == text;
            },
            30s);
    }

    int Versions(const std::string& path) const
    {
        const auto item = Form().Items().FileByPath(path);
        return item ? static_cast<int>(ListDir(Form().Items().BackupRoot() + item->FileID()).size()) : -1;
    }
};

TEST_F(FolderE2E, AWatchedFolderTakesNewFilesMasksAndStops)
{
    const std::string folder = env.Work() + "watched/";
    ASSERT_TRUE(AddFolder(folder));
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, folder, "IsWholeFolder") == "1"; }, 20s));

    // Watched whole: a new file becomes a row with its first version.
    WriteFile(folder + "first.txt", "one");
    ASSERT_TRUE(WaitRow(folder + "first.txt"));
    // A scan may fall between the file's creation and its text: then it has two versions.
    ASSERT_TRUE(WaitNewestText(folder + "first.txt", "one")) << Versions(folder + "first.txt");
    EXPECT_GE(Form().RowOfPath(folder + "first.txt"), 0);

    // Only files matching the masks are taken from now on.
    ASSERT_TRUE(SelectFolder(folder));
    AnswerForm8([](QDialog& d) {
        d.findChild<QRadioButton*>("rTemplates")->setChecked(true);
        d.findChild<QLineEdit*>("eNewTemplate")->setText("*.txt");
        d.findChild<QPushButton*>("bAddNewTemplate")->click();
    });
    Trigger("aFolderProperties");
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, folder, "Templates") == "*.txt;"; }, 20s));
    WriteFile(folder + "skipped.log", "no");
    WriteFile(folder + "taken.txt", "yes");
    ASSERT_TRUE(WaitRow(folder + "taken.txt"));
    EXPECT_EQ(Form().Items().FileByPath(folder + "skipped.log"), nullptr);

    // Stopped from its properties: the node greys and a save makes no version.
    ASSERT_TRUE(SelectFolder(folder));
    AnswerForm8([](QDialog& d) { d.findChild<QCheckBox*>("cbMonitored")->setChecked(false); });
    Trigger("aFolderProperties");
    // The node greys with the agent's answer to the stop.
    EXPECT_TRUE(WaitUntil(
        [&] { return Form().FindNode(folder)->foreground(0).color() == QColor(128, 128, 128); }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, folder, "Monitored") == "0"; }, 20s));
    const int versions = Versions(folder + "first.txt");
    ReplaceFile(folder + "first.txt", "two", 30);
    EXPECT_FALSE(WaitUntil([&] { return Versions(folder + "first.txt") > versions; }, 3s));
}

TEST_F(FolderE2E, ReassignMovesMembersAndHistoryThenDeleteRemovesTheFolder)
{
    const std::string folder = env.Work() + "old/";
    ASSERT_TRUE(AddFolder(folder));
    WriteFile(folder + "note.txt", "text");
    ASSERT_TRUE(WaitRow(folder + "note.txt"));
    // A scan may fall between the file's creation and its text: then it has two versions.
    ASSERT_TRUE(WaitUntil([&] { return Versions(folder + "note.txt") >= 1; }, 30s));
    const std::string fileId = Form().Items().FileByPath(folder + "note.txt")->FileID();

    const std::string target = env.Work() + "new/";
    std::filesystem::create_directories(target);
    WriteFile(target + "note.txt", "moved text");
    ASSERT_TRUE(SelectFolder(folder));
    TQdFolderDialog::PushAnswer(target);
    Trigger("aReassignFolder");
    ASSERT_TRUE(WaitUntil([&] { return Form().FindNode(target) != nullptr; }, 20s));
    EXPECT_EQ(Form().FindNode(folder), nullptr);
    ASSERT_NE(Form().Items().FileByPath(target + "note.txt"), nullptr);
    EXPECT_EQ(Form().Items().FileByPath(target + "note.txt")->FileID(), fileId);
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, target + "note.txt", "FileID") == fileId; }, 20s));
    EXPECT_GE(Versions(target + "note.txt"), 1);

    ASSERT_TRUE(SelectFolder(target));
    Trigger("aDeleteFolder");
    ASSERT_TRUE(WaitUntil([&] { return Form().FindNode(target) == nullptr; }, 20s));
    EXPECT_EQ(Form().Items().FolderCount(), 0);
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, target, "FileID").empty(); }, 20s));
}

TEST_F(FolderE2E, AFolderTheAgentRefusesNeverEntersTheTree)
{
    const std::string inside = env.Home() + "inside/";
    std::filesystem::create_directories(inside);
    const int nodes = Form().FoldersTree()->topLevelItemCount();
    TQdFolderDialog::PushAnswer(inside);
    AnswerForm8();
    Trigger("aAddFolder");
    ASSERT_TRUE(agent->WaitOutput("refused to add", 20s));
    // Anything the agent answered has arrived by the time its next report does.
    QCoreApplication::processEvents();
    EXPECT_EQ(Form().FindNode(inside), nullptr);
    EXPECT_EQ(Form().FoldersTree()->topLevelItemCount(), nodes);
    EXPECT_EQ(Form().Items().FolderCount(), 0);
}

TEST_F(FolderE2E, EveryThirdSaveKeepingTheLastTwo)
{
    const std::string path = env.Work() + "numbered/draft.txt";
    WriteFile(path, "save 0");
    TouchFile(path, -100);
    ASSERT_GE(AddFile(path), 0);
    ASSERT_TRUE(WaitUntil([&] { return Versions(path) == 1; }, 30s));
    Select(path);

    ModalDialogs::PushHandler([](QDialog& d) {
        d.findChild<QRadioButton*>("MakeNumberRadio")->setChecked(true);
        d.findChild<QLineEdit*>("MakingNumberEdit")->setText("3");
        d.findChild<QRadioButton*>("DelNumberRadio")->setChecked(true);
        d.findChild<QLineEdit*>("DelNumberEdit")->setText("2");
        d.findChild<QPushButton*>("SaveButton")->click();
    });
    Trigger("aProperties");
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, path, "DelModeNumber") == "2"; }, 20s));
    ASSERT_EQ(ListValue(env, path, "MonMode"), "2");

    for (int save = 1; save <= 6; ++save) {
        ReplaceFile(path, "save " + std::to_string(save), -90 + save * 10);
        // Each save is counted before the next one comes.
        const std::string count = std::to_string(save % 3);
        ASSERT_TRUE(WaitUntil([&] { return ListValue(env, path, "MonModeNumberCount", "0") == count; }, 20s))
            << "save " << save;
        if (save % 3 == 0) {
            ASSERT_TRUE(WaitNewestText(path, "save " + std::to_string(save))) << "save " << save;
        }
    }
    // The new version is there before the old ones are pruned.
    EXPECT_TRUE(WaitUntil([&] { return Versions(path) == 2; }, 20s)) << Versions(path);
    EXPECT_TRUE(WaitNewestText(path, "save 6"));
}

} // namespace
} // namespace morvane::e2e
