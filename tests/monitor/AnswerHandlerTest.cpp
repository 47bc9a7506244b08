// The agent's reports as the monitor's answer handler mirrors them.
#include "MonitorFixture.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"

#include <QCoreApplication>

namespace morvane::test {
namespace {

class AnswerHandlerTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        record = StoreFile("notes.txt", "240102001");
        path = record.Path.Get();
        OpenForm();
    }

    // Hands a report to the handler as its message window would.
    bool Deliver(MessageIndex index, const TMonItemRecord& data, std::uint32_t wParam = 0)
    {
        agent.Block()->ItemRecord = data;
        return form->AppMessage({agent.Id(index), wParam, 0});
    }

    TMonItemRecord FolderRecordOf(const TMonItemRecord& file)
    {
        return ItemRecordFor(FolderPart(file.Path.Get()), "F" + file.FileID.Get());
    }

    TMonItemRecord record;
    std::string path;
};

TEST_F(AnswerHandlerTest, AddOfAFileInANewFolderMakesTheNodeAndTheRow)
{
    const std::string folder = env.Work() + "fresh/";
    WriteFile(folder + "a.txt", "a");
    TMonItemRecord added = ItemRecordFor(folder + "a.txt", "240102777");
    agent.Block()->AddHandshake = 1;
    ASSERT_TRUE(agent.Report(MsgAdd, added));
    ASSERT_TRUE(WaitUntil([&] { return agent.Block()->AddHandshake == 0; }));

    ASSERT_NE(form->FindNode(folder), nullptr);
    EXPECT_EQ(form->FoldersTree()->currentItem(), form->FindNode(folder));
    const int row = form->RowOfPath(folder + "a.txt");
    ASSERT_GE(row, 0);
    EXPECT_TRUE(form->FileList()->Checked(row));
    EXPECT_EQ(Column(row, 0), "Active");
    const auto item = form->Items().FileByPath(folder + "a.txt");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->FileID(), "240102777");
    EXPECT_EQ(form->StatusText().toStdString(), "  Number of monitored files: 2");
}

TEST_F(AnswerHandlerTest, AddOfAFileAlreadyShownRefreshesItsRow)
{
    SelectFile(path);
    TMonItemRecord again = record;
    again.MonMode = mmInterval;
    Deliver(MsgAdd, again);
    int rows = 0;
    for (int row = 0; row < form->FileList()->RowCount(); ++row)
        rows += form->FileList()->Caption(row) == "notes.txt";
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(Column(form->RowOfPath(path), 2), "Interval");
    EXPECT_EQ(form->Items().FileCount(), 1);
}

TEST_F(AnswerHandlerTest, StopShowsDisabledAndStopOneShowsBroken)
{
    SelectFile(path);
    Deliver(MsgStop, record, 0);
    int row = form->RowOfPath(path);
    EXPECT_EQ(Column(row, 0), "Disabled");
    EXPECT_FALSE(form->FileList()->Checked(row));
    EXPECT_EQ(form->Items().GetFile(0)->MonStatus(), msDisabled);

    Deliver(MsgStop, record, 1);
    row = form->RowOfPath(path);
    EXPECT_EQ(Column(row, 0), "Broken");
    EXPECT_EQ(form->Items().GetFile(0)->MonStatus(), msBroken);
    EXPECT_FALSE(form->Items().GetFile(0)->Monitored());
}

TEST_F(AnswerHandlerTest, StopOneOfAnUnknownPathSaysSoAndChangesNothing)
{
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    TMonItemRecord unknown = ItemRecordFor(env.Work() + "ghost.txt", "240102999");
    agent.Block()->ItemRecord = unknown;
    EXPECT_FALSE(form->AppMessage({agent.Id(MsgStop), 1, 0}));
    EXPECT_EQ(MessageBoxes::TakeShownTexts(), std::vector<std::string>{"Start/Stop handler: Item not found"});
    EXPECT_EQ(form->Items().GetFile(0)->MonStatus(), msActive);
}

TEST_F(AnswerHandlerTest, StopOneOfAFolderMarksTheFolderBroken)
{
    Deliver(MsgStop, FolderRecordOf(record), 1);
    const auto folder = form->Items().FolderByPath(env.Work());
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->MonStatus(), msBroken);
    EXPECT_FALSE(folder->Monitored());
    EXPECT_TRUE(MessageBoxes::TakeShownTexts().empty());
}

TEST_F(AnswerHandlerTest, StartShowsTheFileActive)
{
    SelectFile(path);
    form->Items().GetFile(0)->UpdateData([](TMonItemRecord& r) {
        r.Monitored = false;
        r.MonStatus = msDisabled;
    });
    Deliver(MsgStart, record);
    const int row = form->RowOfPath(path);
    EXPECT_EQ(Column(row, 0), "Active");
    EXPECT_TRUE(form->FileList()->Checked(row));
}

TEST_F(AnswerHandlerTest, VersionOfTheSelectedFileRefreshesCountAndList)
{
    SelectFile(path);
    EXPECT_EQ(Column(form->RowOfPath(path), 3), "0/10");
    WriteVersion(BackupRoot(), "240102001", "001", "notes.txt");
    WriteVersion(BackupRoot(), "240102001", "002", "notes.txt");
    TMonItemRecord made = record;
    made.VersionNum = 2;
    Deliver(MsgVersion, made);
    EXPECT_EQ(Column(form->RowOfPath(path), 3), "2/10");
    EXPECT_EQ(form->VerList()->RowCount(), 2);
    EXPECT_EQ(form->Items().GetFile(0)->Data().VersionNum, 2);
}

TEST_F(AnswerHandlerTest, VersionOfAnotherFileOnlyTakesTheRecord)
{
    form->FileList()->SetSelected(-1);
    TMonItemRecord made = record;
    made.VersionNum = 7;
    // The agent sends its next report once the monitor has taken this one's record.
    agent.Block()->AddHandshake = 1;
    Deliver(MsgVersion, made);
    EXPECT_EQ(agent.Block()->AddHandshake, 0);
    EXPECT_EQ(form->Items().GetFile(0)->Data().VersionNum, 7);
    EXPECT_EQ(form->VerList()->RowCount(), 0);
}

// The agent has disposed of the history already; the monitor only follows in its views.
TEST_F(AnswerHandlerTest, DeleteOfAFileRemovesItsRowAndLeavesTheHistoryToTheAgent)
{
    SelectFile(path);
    const std::string version = WriteVersion(BackupRoot(), "240102001", "001", "notes.txt");
    Deliver(MsgDelete, record);
    EXPECT_EQ(form->Items().FindByPath(path), -1);
    EXPECT_EQ(form->RowOfPath(path), -1);
    EXPECT_TRUE(FileExists(version));
}

TEST_F(AnswerHandlerTest, DeleteOfAFolderRemovesItsNode)
{
    ASSERT_NE(form->FindNode(env.Work()), nullptr);
    agent.Block()->ItemRecord = FolderRecordOf(record);
    EXPECT_TRUE(form->AppMessage({agent.Id(MsgDelete), 0, 0}));
    EXPECT_EQ(form->FindNode(env.Work()), nullptr);
    EXPECT_EQ(form->Items().FolderCount(), 0);
    EXPECT_EQ(form->Items().FileCount(), 0);
    EXPECT_EQ(form->FileList()->RowCount(), 0);
}

TEST_F(AnswerHandlerTest, CloseClosesTheWindowAndNothingLaterIsHandled)
{
    bool closed = false;
    form->SetOnClosed([&] { closed = true; });
    form->show();
    ASSERT_TRUE(agent.Report(MsgClose));
    ASSERT_TRUE(WaitUntil([&] { return closed; }));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(agent.Block()->MonitorRunning, 0);
    EXPECT_FALSE(form->Hooked());
    EXPECT_FALSE(form->AppMessage({agent.Id(MsgActivate), 0, 0}));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(AnswerHandlerTest, ActivateShowsAHiddenWindow)
{
    form->hide();
    ASSERT_TRUE(agent.Report(MsgActivate));
    EXPECT_TRUE(WaitUntil([&] { return form->isVisible(); }));
}

TEST_F(AnswerHandlerTest, OtherMessagesPassUntouched)
{
    for (MessageIndex index : {MsgOpen, MsgClear, MsgUpdate, MsgReinit, MsgMake})
        EXPECT_FALSE(form->AppMessage({agent.Id(index), 0, 0})) << kMessageNames[index];
    EXPECT_FALSE(form->AppMessage({0xC0FF, 0, 0}));
    EXPECT_EQ(form->Items().FileCount(), 1);
}

TEST_F(AnswerHandlerTest, ReportsBeforeTheHookWaitAndAreHandledThen)
{
    window.reset();
    form = std::make_unique<monitor::TForm1>(agent.Block(), env.Home());
    window = std::make_unique<MessageWindow>();
    window->SetHandler([this](const WindowMessage& message) { form->AppMessage(message); });
    agent.Block()->MonitorWnd = window->Handle();
    form->InitActiveList();
    const std::string added = env.Work() + "early.txt";
    agent.Block()->AddHandshake = 1;
    ASSERT_TRUE(agent.Report(MsgAdd, ItemRecordFor(added, "240102555")));
    ASSERT_TRUE(WaitUntil([&] { return form->PendingAnswers() == 1; })) << "the report has arrived";
    EXPECT_EQ(form->Items().FindByPath(added), -1);
    form->Hook();
    EXPECT_GE(form->Items().FindByPath(added), 0);
    EXPECT_EQ(agent.Block()->AddHandshake, 0);
}

TEST_F(AnswerHandlerTest, ReportsBeforeTheHookKeepTheirOwnRecords)
{
    const TMonItemRecord other = StoreFile("other.txt", "240102002");
    window.reset();
    form = std::make_unique<monitor::TForm1>(agent.Block(), env.Home());
    window = std::make_unique<MessageWindow>();
    window->SetHandler([this](const WindowMessage& message) { form->AppMessage(message); });
    agent.Block()->MonitorWnd = window->Handle();
    form->InitActiveList();
    // The agent sends its next report only once the monitor has taken the last one's
    // record; a monitor still loading must take it too.
    agent.Block()->AddHandshake = 1;
    ASSERT_TRUE(agent.Report(MsgStop, record, 1));
    ASSERT_TRUE(WaitUntil([&] { return agent.Block()->AddHandshake == 0; })) << "the record was not taken";
    agent.Block()->AddHandshake = 1;
    ASSERT_TRUE(agent.Report(MsgVersion, other));
    ASSERT_TRUE(WaitUntil([&] { return form->PendingAnswers() == 2; }));
    form->Hook();
    EXPECT_EQ(form->Items().FileByPath(path)->MonStatus(), msBroken) << "the missing file's report was lost";
    EXPECT_EQ(form->Items().FileByPath(other.Path.Get())->MonStatus(), msActive);
    EXPECT_EQ(agent.Block()->AddHandshake, 0);
}

TEST_F(AnswerHandlerTest, AFolderRecordWithoutAFolderPathIsRefused)
{
    TMonItemRecord bad = ItemRecordFor(env.Work() + "nofolder", "240102444");
    bad.IsFolder = true;
    agent.Block()->ItemRecord = bad;
    agent.Block()->AddHandshake = 1;
    EXPECT_TRUE(form->AppMessage({agent.Id(MsgAdd), 0, 0}));
    EXPECT_EQ(agent.Block()->AddHandshake, 0);
    EXPECT_EQ(form->Items().FolderCount(), 1);
    EXPECT_EQ(form->Items().FileCount(), 1);
}

} // namespace
} // namespace morvane::test
