// Rows, nodes, the status bar, action states and view styles of the main window.
#include "MonitorFixture.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/CaptionToolBar.h"
#include "support/components/ModalDialogs.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <fstream>

namespace morvane::test {
namespace {

using FileListTest = MonitorFixture;

TEST_F(FileListTest, StatusBarCountsEveryFileItem)
{
    OpenForm();
    EXPECT_EQ(form->StatusText().toStdString(), "  No files monitored now");
    form.reset();
    StoreFile("a.txt", "240103001");
    StoreFile("b.txt", "240103002");
    TMonItemRecord stopped = StoreFile("c.txt", "240103003");
    stopped.Monitored = false;
    StoreItem(stopped);
    OpenForm();
    EXPECT_EQ(form->StatusText().toStdString(), "  Number of monitored files: 3");
}

struct RowCase
{
    const char* Name;
    TMonMode Mode;
    bool Ask, Compare, Size;
    TDelMode DelMode;
    int DelNumber;
    int Versions;
    const char* ModeText;
    const char* VersionsText;
};

class RowTextTest : public MonitorFixture, public ::testing::WithParamInterface<RowCase>
{
};

TEST_P(RowTextTest, ColumnsShowStateModeAndVersions)
{
    const RowCase& c = GetParam();
    TMonItemRecord record = StoreFile("r.txt", "240103010");
    record.MonMode = c.Mode;
    record.MonModeConfirmation = c.Ask;
    record.MonModeCompare = c.Compare;
    record.MonModeSize = c.Size;
    record.DelMode = c.DelMode;
    record.DelModeNumber = c.DelNumber;
    StoreItem(record);
    for (int v = 1; v <= c.Versions; ++v)
        WriteVersion(BackupRoot(), "240103010", "00" + std::to_string(v), "r.txt");
    OpenForm();
    const int row = SelectFile(record.Path.Get());
    ASSERT_GE(row, 0);
    EXPECT_EQ(form->FileList()->Caption(row).toStdString(), "r.txt");
    EXPECT_EQ(Column(row, 0), "Active");
    EXPECT_EQ(Column(row, 1), env.Work());
    EXPECT_EQ(Column(row, 2), c.ModeText);
    EXPECT_EQ(Column(row, 3), c.VersionsText);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTextTest,
    ::testing::Values(
        RowCase{"AlwaysAskSize", mmAlways, true, false, true, dmNumber, 10, 0, "Always, AS", "0/10"},
        RowCase{"NoFlags", mmAlways, false, false, false, dmNumber, 5, 3, "Always", "3/5"},
        RowCase{"IntervalAll", mmInterval, true, true, true, dmInterval, 0, 3, "Interval, ACS", "3/Period"},
        RowCase{"Number", mmNumber, false, true, false, dmNumber, 1, 1, "Number, C", "1/1"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The make column as the agent's reports refresh a row again and again: each report's
// record gives the text, whatever the row showed before.
struct ModeStep
{
    int Mode;
    bool Ask, Size;
    const char* Text;
};

struct ModeSequence
{
    const char* Name;
    std::vector<ModeStep> Steps;
};

class MakeColumnTest : public MonitorFixture, public ::testing::WithParamInterface<ModeSequence>
{
};

TEST_P(MakeColumnTest, EachRefreshShowsTheReportsRecordOnly)
{
    TMonItemRecord record = StoreFile("m.txt", "240103030");
    OpenForm();
    const int row = SelectFile(record.Path.Get());
    ASSERT_GE(row, 0);
    for (const ModeStep& step : GetParam().Steps) {
        record.MonMode = static_cast<TMonMode>(step.Mode);
        record.MonModeConfirmation = step.Ask;
        record.MonModeSize = step.Size;
        agent.Block()->ItemRecord = record;
        form->AppMessage({agent.Id(MsgVersion), 0, 0});
        EXPECT_EQ(Column(row, 2), step.Text) << "mode " << step.Mode;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, MakeColumnTest,
                         ::testing::Values(ModeSequence{"UnknownModeAgainAndAgain",
                                                        {{7, true, true, "Always, AS"},
                                                         {7, true, true, "Always, AS"},
                                                         {7, true, true, "Always, AS"}}},
                                           ModeSequence{"UnknownModeKeepsTheLastWord",
                                                        {{mmInterval, true, false, "Interval, A"},
                                                         {9, true, false, "Interval, A"},
                                                         {9, false, true, "Interval, S"},
                                                         {9, false, false, "Interval"}}},
                                           ModeSequence{"KnownModesReplaceEachOther",
                                                        {{mmNumber, false, true, "Number, S"},
                                                         {mmAlways, false, false, "Always"}}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileListTest, ALongNameLeavesTheOtherColumnsInSight)
{
    const std::string name = std::string(200, 'n') + ".txt";
    StoreFile(name, "240103040");
    OpenForm();
    form->resize(760, 520);
    form->show();
    const int row = SelectFile(env.Work() + name);
    ASSERT_GE(row, 0);
    QTreeView* report = form->FileList()->ReportView();
    QHeaderView* header = report->header();
    ASSERT_TRUE(WaitUntil([&] { return header->sectionSize(0) > 0 && report->viewport()->width() > 0; }));
    QCoreApplication::processEvents();
    for (int column : {1, 3, 4}) {
        EXPECT_LT(header->sectionViewportPosition(column) + 20, report->viewport()->width())
            << "column " << column << " is out of sight";
    }
    EXPECT_EQ(form->FileList()
                  ->CurrentView()
                  ->model()
                  ->index(row, 0)
                  .data(Qt::ToolTipRole)
                  .toString()
                  .toStdString(),
              name);
}

TEST_F(FileListTest, NamesDifferingOnlyInCaseAreTwoRows)
{
    StoreFile("Case.txt", "240103021");
    StoreFile("case.txt", "240103022");
    OpenForm();
    SelectFile(env.Work() + "case.txt");
    const int lower = form->RowOfPath(env.Work() + "case.txt");
    const int upper = form->RowOfPath(env.Work() + "Case.txt");
    ASSERT_GE(lower, 0);
    ASSERT_GE(upper, 0);
    EXPECT_NE(lower, upper);
    EXPECT_EQ(form->Items().GetFile(form->ItemIndexOfRow(lower))->FileID(), "240103022");
}

TEST_F(FileListTest, FoldersHangUnderTheRootTheyLieIn)
{
    // The work folder lies under "/" (tests never use the real home); a folder of the
    // home folder hangs under "~".
    const std::string home = WithTrailingSep(QDir::homePath().toStdString());
    OpenForm();
    form->UpdateFoldersTree("/");
    form->UpdateFoldersTree(env.Work() + "A/");
    form->UpdateFoldersTree(env.Work() + "A/B/");
    form->UpdateFoldersTree(home + "Docs/");

    QTreeWidget* tree = form->FoldersTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* slash = tree->topLevelItem(0);
    QTreeWidgetItem* tilde = tree->topLevelItem(1);
    EXPECT_EQ(slash->text(0).toStdString(), "/");
    EXPECT_EQ(tilde->text(0).toStdString(), "~");
    EXPECT_EQ(form->NodePath(slash), "/");
    EXPECT_EQ(form->NodePath(tilde), home);
    // Nested folders are siblings, sorted by text.
    const std::string work = env.Work().substr(1);
    ASSERT_EQ(slash->childCount(), 2);
    EXPECT_EQ(slash->child(0)->text(0).toStdString(), work + "A");
    EXPECT_EQ(slash->child(1)->text(0).toStdString(), work + "A/B");
    EXPECT_EQ(form->NodePath(slash->child(1)), env.Work() + "A/B/");
    ASSERT_EQ(tilde->childCount(), 1);
    EXPECT_EQ(tilde->child(0)->text(0).toStdString(), "Docs");
    EXPECT_EQ(form->FindNode(home + "Docs/"), tilde->child(0));
    // The last folder made is the selected one.
    EXPECT_EQ(tree->currentItem(), tilde->child(0));
}

struct StartNodeCase
{
    const char* Name;
    const char* FileIn; // "" for no file at all
    const char* Selected;
};

class StartNodeTest : public MonitorFixture, public ::testing::WithParamInterface<StartNodeCase>
{
};

// At start the list shows files whenever there are any, whichever folder the tree ends on.
TEST_P(StartNodeTest, TheFirstFolderWithFilesIsSelected)
{
    for (const char* sub : {"a/", "m/", "z/"}) {
        std::filesystem::create_directories(env.Work() + sub);
        StoreItem(ItemRecordFor(env.Work() + sub, std::string("F24010505") + sub[0]));
    }
    const std::string fileIn = GetParam().FileIn;
    if (!fileIn.empty()) {
        WriteFile(env.Work() + fileIn + "x.txt", "x");
        StoreItem(ItemRecordFor(env.Work() + fileIn + "x.txt", "240105051"));
    }
    OpenForm();
    EXPECT_EQ(form->NodePath(form->FoldersTree()->currentItem()), env.Work() + GetParam().Selected);
    EXPECT_EQ(form->FileList()->RowCount(), fileIn.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Start, StartNodeTest,
                         ::testing::Values(StartNodeCase{"first", "a/", "a/"},
                                           StartNodeCase{"middle", "m/", "m/"},
                                           StartNodeCase{"none", "", "z/"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FileListTest, DeletingTheOnlyFolderOfARootRemovesTheRootNode)
{
    StoreFile("a.txt", "240103031");
    OpenForm();
    ASSERT_EQ(form->FoldersTree()->topLevelItemCount(), 1);
    form->DeleteMonFolder(env.Work());
    EXPECT_EQ(form->FoldersTree()->topLevelItemCount(), 0);
    EXPECT_EQ(form->Items().FileCount(), 0);
    EXPECT_EQ(form->StatusText().toStdString(), "  No files monitored now");
}

TEST_F(FileListTest, SelectingARootThatIsNoFolderShowsNothing)
{
    StoreFile("a.txt", "240103041");
    OpenForm();
    QTreeWidgetItem* root = form->FoldersTree()->topLevelItem(0);
    form->FoldersTree()->setCurrentItem(root);
    EXPECT_EQ(form->FileList()->RowCount(), 0);
    EXPECT_EQ(form->FolderIndexOfNode(root), -1);
    form->FoldersTree()->setCurrentItem(root->child(0));
    EXPECT_EQ(form->FileList()->RowCount(), 1);
}

TEST_F(FileListTest, ActionsFollowTheSelection)
{
    const TMonItemRecord record = StoreFile("a.txt", "240103051");
    OpenForm();
    form->FileList()->SetSelected(-1);
    form->UpdateActions();
    for (const char* name : {"aDeleteFile", "aMakeVersion", "aReassing", "aFileOpen", "aClearVersions",
                             "aVerOpen", "aOpenLocation", "aVerDelete"})
        EXPECT_FALSE(form->Action(name)->isEnabled()) << name;
    EXPECT_TRUE(form->Action("aAdd")->isEnabled());

    WriteVersion(BackupRoot(), "240103051", "001", "a.txt");
    SelectFile(record.Path.Get());
    EXPECT_TRUE(form->Action("aMakeVersion")->isEnabled());
    EXPECT_FALSE(form->Action("aClearVersions")->isEnabled()) << "one version: nothing to clear";
    WriteVersion(BackupRoot(), "240103051", "002", "a.txt");
    form->VersionsClick();
    EXPECT_TRUE(form->Action("aClearVersions")->isEnabled());

    EXPECT_FALSE(form->Action("aVerOpen")->isEnabled());
    form->VerList()->SetSelected(0);
    EXPECT_TRUE(form->Action("aVerOpen")->isEnabled());
    EXPECT_TRUE(form->Action("aVerDelete")->isEnabled());
}

TEST_F(FileListTest, StartAndStopOfferWhatTheItemLacks)
{
    TMonItemRecord stopped = StoreFile("stopped.txt", "240103061");
    stopped.Monitored = false;
    stopped.MonStatus = msDisabled;
    StoreItem(stopped);
    TMonItemRecord broken = StoreFile("broken.txt", "240103062");
    broken.Monitored = false;
    broken.MonStatus = msBroken;
    StoreItem(broken);
    const TMonItemRecord running = StoreFile("running.txt", "240103063");
    OpenForm();

    SelectFile(stopped.Path.Get());
    EXPECT_TRUE(form->Action("aStartMonitoring")->isVisible());
    EXPECT_TRUE(form->Action("aStartMonitoring")->isEnabled());
    EXPECT_FALSE(form->Action("aStopMonitoring")->isVisible());
    SelectFile(running.Path.Get());
    EXPECT_FALSE(form->Action("aStartMonitoring")->isVisible());
    EXPECT_TRUE(form->Action("aStopMonitoring")->isVisible());
    SelectFile(broken.Path.Get());
    EXPECT_TRUE(form->Action("aStartMonitoring")->isVisible());
    EXPECT_FALSE(form->Action("aStartMonitoring")->isEnabled());
}

TEST_F(FileListTest, BrokenRowsAreRedAndRowsOfAStoppedFolderGrey)
{
    TMonItemRecord broken = StoreFile("broken.txt", "240103071");
    broken.MonStatus = msBroken;
    StoreItem(broken);
    StoreFile("fine.txt", "240103072");
    OpenForm();
    SelectFile(broken.Path.Get());
    const int brokenRow = form->RowOfPath(broken.Path.Get());
    const int fineRow = form->RowOfPath(env.Work() + "fine.txt");
    EXPECT_EQ(form->FileRowColour(brokenRow), QColor(255, 0, 0));
    EXPECT_FALSE(form->FileRowColour(fineRow).has_value());
    // Grey wins over red in a stopped folder.
    form->StateMonFolder(0, form->Items().FindFolder(env.Work()), false);
    EXPECT_EQ(form->FileRowColour(brokenRow), QColor(128, 128, 128));
    EXPECT_EQ(form->FileRowColour(fineRow), QColor(128, 128, 128));
    EXPECT_EQ(form->FindNode(env.Work())->foreground(0).color(), QColor(128, 128, 128));
}

TEST_F(FileListTest, IconStyleHidesCheckBoxesAndSendsNothing)
{
    const TMonItemRecord record = StoreFile("a.txt", "240103081");
    OpenForm();
    SelectFile(record.Path.Get());
    agent.ClearReceived();
    form->Action("aToolBarIcon")->trigger();
    EXPECT_FALSE(form->FileList()->Checkboxes());
    EXPECT_EQ(form->FileList()->ViewStyle(), monitor::ListView::vsIcon);
    EXPECT_TRUE(form->Action("aToolBarIcon")->isChecked());
    EXPECT_FALSE(form->Action("aToolBarReport")->isChecked());
    form->Action("aToolBarReport")->trigger();
    EXPECT_TRUE(form->FileList()->Checkboxes());
    EXPECT_TRUE(form->FileList()->Checked(form->RowOfPath(record.Path.Get())));
    form->Action("aToolBarList")->trigger();
    EXPECT_TRUE(form->FileList()->Checkboxes());
    EXPECT_TRUE(agent.NothingArrives());
}

TEST_F(FileListTest, CaptionsOffDisablesCaptionPlacement)
{
    OpenForm();
    auto* toolBar = form->findChild<monitor::CaptionToolBar*>("ToolBar1");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_TRUE(form->Action("aToolBarCaptions")->isChecked());
    form->Action("aToolBarCaptions")->trigger();
    EXPECT_FALSE(toolBar->ShowCaptions());
    EXPECT_EQ(toolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_FALSE(form->Action("aToolBarCaptionsList")->isEnabled());
    form->Action("aToolBarCaptions")->trigger();
    EXPECT_TRUE(form->Action("aToolBarCaptionsList")->isEnabled());
    form->Action("aToolBarCaptionsList")->trigger();
    EXPECT_EQ(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    form->Action("aShowToolBar")->trigger();
    EXPECT_TRUE(toolBar->isHidden());
    EXPECT_FALSE(form->Action("aShowToolBar")->isChecked());
}

TEST_F(FileListTest, ALanguageFileRenamesCommandsAndColumns)
{
    OpenForm();
    const std::string language = env.Home() + "Langs/German.ini";
    WriteFile(language,
              "[Form1]\naAdd.Caption=Neu\nForm1.Caption=Fremd\n[Panel1]\nFileList.Columns.Status=Zustand\n"
              "VerList.Columns.Time=Zeit\n");
    const QString title = form->windowTitle();
    form->ApplyLanguage(language);
    EXPECT_EQ(form->Action("aAdd")->text().toStdString(), "Neu");
    EXPECT_EQ(form->windowTitle(), title) << "the main window keeps its own caption";
    EXPECT_EQ(form->FileList()->ColumnCaption(1).toStdString(), "Zustand");
    EXPECT_EQ(form->FileList()->ColumnCaption(0).toStdString(), "File");
    EXPECT_EQ(form->VerList()->ColumnCaption(2).toStdString(), "Zeit");
}

TEST_F(FileListTest, ALanguageChosenInTheOptionsReachesTheRowsAtOnce)
{
    TMonItemRecord file = StoreFile("a.txt", "240103011");
    file.MonModeSize = true;
    StoreItem(file);
    OpenForm();
    WriteFile(env.Home() + "Langs/German.ini", "[Form2]\nMakeSizeCheck.Caption=Dateigröße (G)\n");
    ModalDialogs::PushHandler([](QDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>("LangCombo");
        combo->setCurrentIndex(combo->findText("German"));
        dialog.findChild<QPushButton*>("Button1")->click();
    });
    form->OptionsClick();
    const int row = form->RowOfPath(file.Path.Get());
    EXPECT_EQ(Column(row, 2), "Always, G");
    // The agent puts the language's texts into the block when it handles the REINIT.
    ASSERT_TRUE(agent.WaitFor(MsgReinit));
    agent.Block()->Texts[TxtItemStatusActive].Set("Aktiv");
    agent.Block()->Texts[TxtStatusBarFiles].Set("Dateien:");
    EXPECT_TRUE(WaitUntil([&] { return Column(row, 0) == "Aktiv"; }));
    EXPECT_EQ(form->StatusText().toStdString(), "Dateien: 1");
}

TEST_F(FileListTest, ACorruptListShowsWhatItCanAndSaysWhatItCannot)
{
    StoreFile("good.txt", "240103091");
    {
        std::ofstream out(ListFile(), std::ios::app | std::ios::binary);
        out << "\n[relative/path.txt]\nFileID=240103092\n[" << std::string(300, 'x') << "]\nFileID=1\n"
            << "\x01\x02 garbage line without a section\n";
    }
    IniFile::ClearCache();
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    OpenForm();
    EXPECT_GE(form->Items().FindByPath(env.Work() + "good.txt"), 0);
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("relative/path.txt"), std::string::npos);
    // The monitor never writes the agent's list.
    EXPECT_NE(ReadFile(ListFile()).find("relative/path.txt"), std::string::npos);
}

} // namespace
} // namespace morvane::test
