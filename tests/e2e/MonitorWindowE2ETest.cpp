// The monitor's main window with the real agent: what the window shows follows every
// report of the agent, however busy the window was when it came.
#include "MonitorE2EFixture.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTreeWidget>
#include <filesystem>

namespace morvane::e2e {
namespace {

using test::WaitUntil;
using test::WriteFile;
using namespace std::chrono_literals;

// Waits without handling any event of this thread, as a window busy with other work.
bool WaitBusy(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class MonitorWindowE2E : public MonitorE2E
{
protected:
    // Files the agent monitors, added through a client before any monitor runs.
    void AgentMonitors(const std::vector<std::string>& paths)
    {
        MonitorClient client;
        ASSERT_TRUE(client.Attach());
        for (const std::string& path : paths) {
            WriteFile(path, "x");
            ASSERT_TRUE(client.RequestRecord(MsgAdd, ItemRecordFor(path)));
            ASSERT_TRUE(WaitUntil([&] { return !ListValue(env, path, "FileID").empty(); }, 20s)) << path;
        }
    }

    std::string Status(const std::string& path)
    {
        Select(path);
        const int row = Form().RowOfPath(path);
        return row < 0 ? std::string() : Form().FileList()->SubItem(row, 0).toStdString();
    }
};

TEST_F(MonitorWindowE2E, ReportsThatComeWhileTheListLoadsAreAllShown)
{
    // Files added one by one: their folder watches them only, so a file that goes is
    // reported missing.
    WriteFile(env.Home() + "mvlist.srv", "[_Default settings]\nMonitored=1\nMonMode=0\nIsWholeFolder=0\n"
                                         "FolderWait=0\n");
    StartAgent(false);
    const std::string first = env.Work() + "first.txt";
    const std::string second = env.Work() + "second.txt";
    AgentMonitors({first, second});

    program = std::make_unique<monitor::MonitorProgram>();
    // The list is loaded with both files present; before the window takes the agent's
    // reports, both go missing, one after the other, and the window stays busy past the
    // time the agent would once wait for it.
    program->SetOnListLoaded([&] {
        for (const std::string& path : {first, second}) {
            std::filesystem::remove(path);
            EXPECT_TRUE(WaitBusy([&] { return ListValue(env, path, "MonStatus") == "2"; }, 20s)) << path;
        }
        QThread::msleep(2500);
    });
    ASSERT_TRUE(program->Start());
    EXPECT_TRUE(WaitUntil([&] { return Status(first) == "Broken"; }, 10s)) << Status(first);
    EXPECT_TRUE(WaitUntil([&] { return Status(second) == "Broken"; }, 10s)) << Status(second);
}

// Add folder on a folder the agent lists already (here as the folder of a file added on
// its own): the options chosen apply to that folder, its history kept, a stopped one
// starts; with nothing to change the user is told so.
struct ListedFolderCase
{
    const char* Name;
    bool StoppedBefore;
    bool ChooseAllFiles;
    const char* WholeFolderAfter; // in the agent's list
    bool Told;                    // the box that nothing changes
};

class AddListedFolder : public MonitorWindowE2E, public ::testing::WithParamInterface<ListedFolderCase>
{
protected:
    void SetUp() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
    }
    void TearDown() override
    {
        ModalDialogs::Reset();
        TQdFolderDialog::Reset();
    }
};

TEST_P(AddListedFolder, AppliesTheChosenOptionsOrSaysWhyNot)
{
    const ListedFolderCase& c = GetParam();
    WriteFile(env.Home() + "mvlist.srv", "[_Default settings]\nMonitored=1\nMonMode=0\nIsWholeFolder=0\n"
                                         "FolderWait=0\n");
    StartAgent(false);
    StartMonitor();
    const std::string folder = env.Work();
    const std::string file = folder + "one.txt";
    WriteFile(file, "1");
    ASSERT_GE(AddFile(file), 0);
    ASSERT_EQ(ListValue(env, folder, "IsWholeFolder"), "0");
    const std::string fileId = ListValue(env, folder, "FileID");
    if (c.StoppedBefore) {
        ModalDialogs::PushHandler([](QDialog& d) {
            d.findChild<QCheckBox*>("cbMonitored")->setChecked(false);
            d.findChild<QPushButton*>("Button4")->click();
        });
        Form().FoldersTree()->setCurrentItem(Form().FindNode(folder));
        Trigger("aFolderProperties");
        ASSERT_TRUE(WaitUntil([&] { return !Form().Items().FolderByPath(folder)->Monitored(); }, 20s));
    }
    MessageBoxes::TakeShownTexts();

    TQdFolderDialog::PushAnswer(WithoutTrailingSep(folder));
    ModalDialogs::PushHandler([&](QDialog& d) {
        EXPECT_FALSE(d.findChild<QCheckBox*>("cbMonitored")->isEnabled());
        if (c.ChooseAllFiles)
            d.findChild<QRadioButton*>("rWholeFolder")->setChecked(true);
        d.findChild<QPushButton*>("Button4")->click();
    });
    Trigger("aAddFolder");

    const auto told = MessageBoxes::TakeShownTexts();
    EXPECT_EQ(told.size(), c.Told ? 1u : 0u);
    if (c.Told && !told.empty()) {
        EXPECT_NE(told[0].find("monitored already"), std::string::npos) << told[0];
    }
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto shown = Form().Items().FolderByPath(folder);
            return ListValue(env, folder, "IsWholeFolder") == c.WholeFolderAfter &&
                   ListValue(env, folder, "Monitored") == "1" && shown && shown->Monitored() &&
                   shown->Data().IsWholeFolder == (std::string(c.WholeFolderAfter) == "1");
        },
        20s))
        << ListValue(env, folder, "IsWholeFolder") << " " << ListValue(env, folder, "Monitored");
    EXPECT_EQ(ListValue(env, folder, "FileID"), fileId) << "the folder's history is another one now";
    EXPECT_EQ(Form().Items().FolderCount(), 1);
    if (std::string(c.WholeFolderAfter) == "1") {
        // The folder watches every file now: a new one is taken in and shown.
        const std::string second = folder + "two.txt";
        WriteFile(second, "2");
        EXPECT_TRUE(WaitUntil([&] { return Select(second) >= 0; }, 20s));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AddListedFolder,
                         ::testing::Values(ListedFolderCase{"NewOptionsApply", false, true, "1", false},
                                           ListedFolderCase{"AStoppedFolderStarts", true, false, "0", false},
                                           ListedFolderCase{"NothingToChangeIsSaid", false, false, "0",
                                                            true}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace morvane::e2e
