// The bytes each command of the main window leaves in the shared block, and the message
// it posts to the agent.
#include "MonitorFixture.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/TForm3.h"

#include <QAction>
#include <QTreeWidget>
#include <cstring>

namespace morvane::test {
namespace {

class RequestTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        record = StoreFile("report.txt", "240101123");
        path = record.Path.Get();
        OpenForm();
        ASSERT_GE(SelectFile(path), 0);
        agent.Block()->RequestOrigin = 0;
        // Byte 0 empty: the agent has taken its previous path; the rest shows what is written.
        std::memset(agent.Block()->PathArg, 'x', sizeof agent.Block()->PathArg);
        agent.Block()->PathArg[0] = '\0';
        agent.ClearReceived();
    }

    // PathArg holds exactly text and its NUL.
    void ExpectPathArg(const std::string& text)
    {
        const char* arg = agent.LastPathArg();
        EXPECT_EQ(std::string(arg, text.size()), text);
        EXPECT_EQ(arg[text.size()], '\0');
    }

    TMonItemRecord record;
    std::string path;
};

TEST_F(RequestTest, AddPostsTheRequestRecordWithTheMarker)
{
    const std::string added = env.Work() + "new.txt";
    WriteFile(added, "n");
    monitor::FileDialogs::PushAnswer(added);
    form->Action("aAdd")->trigger();

    const auto message = agent.WaitFor(MsgAdd);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->WParam, 0u);
    EXPECT_EQ(message->LParam, 0u);
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    TMonItemRecord expected = EmptyItemRecord();
    expected.Path.Set(added);
    EXPECT_EQ(std::memcmp(&agent.Block()->ItemRecord, &expected, sizeof expected), 0);
    // The row comes with the agent's answer, not before.
    EXPECT_EQ(form->RowOfPath(added), -1);
}

TEST_F(RequestTest, AddOfAnOverlongPathIsRefusedAndNothingSent)
{
    monitor::FileDialogs::PushAnswer(env.Work() + std::string(300, 'a'));
    form->Action("aAdd")->trigger();
    EXPECT_TRUE(agent.NothingArrives());
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("longer than 255"), std::string::npos);
}

TEST_F(RequestTest, CancelledAddSendsNothing)
{
    monitor::FileDialogs::PushAnswer(std::nullopt);
    form->Action("aAdd")->trigger();
    EXPECT_TRUE(agent.NothingArrives());
}

// Only the agent removes an item and its history; the monitor follows its answer.
TEST_F(RequestTest, RemovePostsDeleteAndChangesNothingBeforeTheAnswer)
{
    const std::string version = WriteVersion(BackupRoot(), "240101123", "001", "report.txt");
    form->VersionsClick();
    form->Action("aDeleteFile")->trigger();

    ASSERT_TRUE(agent.WaitFor(MsgDelete));
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    ExpectPathArg(path);
    EXPECT_GE(form->RowOfPath(path), 0);
    EXPECT_TRUE(FileExists(version));
    EXPECT_EQ(form->VerList()->RowCount(), 1);

    agent.Report(MsgDelete, record);
    EXPECT_TRUE(WaitUntil([&] { return form->RowOfPath(path) == -1; }));
    EXPECT_EQ(form->Items().FindByPath(path), -1);
    EXPECT_TRUE(FileExists(version)) << "the monitor never deletes stored versions";
    EXPECT_EQ(form->VerList()->RowCount(), 0);
    EXPECT_EQ(form->StatusText().toStdString(), "  No files monitored now");
}

TEST_F(RequestTest, StartAndStopArePickedByTheirEntriesInTheBlock)
{
    // Distinct numbers at entries 2 and 3 show which entry each request takes.
    agent.Block()->ItemRecord = EmptyItemRecord();
    form->Items().GetFile(0)->UpdateData([](TMonItemRecord& r) { r.Monitored = false; });
    form->Action("aStartMonitoring")->trigger();
    auto message = agent.WaitFor(MsgStart);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Msg, agent.Block()->MessageIds[2]);
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    ExpectPathArg(path);

    agent.ClearReceived();
    agent.Block()->RequestOrigin = 0;
    form->Action("aStopMonitoring")->trigger();
    message = agent.WaitFor(MsgStop);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Msg, agent.Block()->MessageIds[3]);
    EXPECT_EQ(message->WParam, 0u);
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    ExpectPathArg(path);
    EXPECT_FALSE(form->FileList()->Checked(form->RowOfPath(path)));
}

// The block holds one path: a request is never written over one the agent has not taken,
// or the earlier request would be carried out on the later one's item.
TEST_F(RequestTest, APathNotYetTakenIsNeverOverwritten)
{
    form->Link().SetHandOverLimit(std::chrono::milliseconds(300));
    agent.TakesPaths = false;
    form->Items().GetFile(0)->UpdateData([](TMonItemRecord& r) { r.Monitored = false; });
    form->Action("aStartMonitoring")->trigger();
    ASSERT_TRUE(agent.WaitFor(MsgStart));
    agent.ClearReceived();
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    form->Action("aStopMonitoring")->trigger();
    // The command returned at once: its request waits without holding up the window.
    EXPECT_EQ(form->Link().Waiting(), 1u);
    EXPECT_TRUE(agent.NothingArrives()) << "the second request is not sent";
    ASSERT_TRUE(WaitUntil([&] { return form->Link().Waiting() == 0; }));
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u) << "the user is told";
    EXPECT_NE(shown[0].find("stop " + path), std::string::npos);
    EXPECT_EQ(agent.Block()->PathArgText(), path) << "the first request's path is intact";
    EXPECT_TRUE(agent.NothingArrives());
}

// Requests behind a path the agent has not taken yet go out in order once it has.
TEST_F(RequestTest, WaitingRequestsGoOutInOrderOnceThePathIsTaken)
{
    agent.Block()->SetPathArg("/elsewhere/earlier.txt");
    form->Action("aMakeVersion")->trigger();
    form->Action("aStopMonitoring")->trigger();
    EXPECT_EQ(form->Link().Waiting(), 2u);
    EXPECT_TRUE(agent.NothingArrives());
    agent.Block()->PathArg[0] = '\0';
    ASSERT_TRUE(agent.WaitFor(MsgStop));
    ASSERT_EQ(agent.Received().size(), 2u);
    EXPECT_EQ(agent.Received()[0].Msg, agent.Id(MsgMake));
    EXPECT_EQ(agent.Received()[1].Msg, agent.Id(MsgStop));
    EXPECT_TRUE(MessageBoxes::TakeShownTexts().empty());
}

TEST_F(RequestTest, TheOptionsDialogsReinitWaitsItsTurn)
{
    agent.Block()->SetPathArg("/elsewhere/earlier.txt");
    form->Action("aMakeVersion")->trigger();
    form->Form3()->Button1Click();
    EXPECT_EQ(form->Link().Waiting(), 2u);
    EXPECT_TRUE(agent.NothingArrives()) << "the agent rereads its settings before the waiting request";
    agent.Block()->PathArg[0] = '\0';
    ASSERT_TRUE(agent.WaitFor(MsgReinit));
    ASSERT_EQ(agent.Received().size(), 2u);
    EXPECT_EQ(agent.Received()[0].Msg, agent.Id(MsgMake));
    EXPECT_EQ(agent.Received()[1].Msg, agent.Id(MsgReinit));
}

// A record request never writes over a report of the agent that the window has not read.
TEST_F(RequestTest, AnAddWaitsWhileAReportHoldsTheRecordSlot)
{
    ASSERT_TRUE(agent.Block()->ClaimRecord(false));
    agent.Block()->ItemRecord = record;
    const std::string added = env.Work() + "new.txt";
    WriteFile(added, "n");
    monitor::FileDialogs::PushAnswer(added);
    form->Action("aAdd")->trigger();
    EXPECT_EQ(form->Link().Waiting(), 1u);
    EXPECT_TRUE(agent.NothingArrives());
    EXPECT_EQ(agent.Block()->ItemRecord.Path.Get(), path) << "the report's record was replaced";
    // The window has taken the report: the request goes.
    agent.Block()->AddHandshake = false;
    ASSERT_TRUE(agent.WaitFor(MsgAdd));
    EXPECT_EQ(agent.Block()->ItemRecord.Path.Get(), added);
    EXPECT_FALSE(agent.Block()->AddHandshake) << "the agent freed the slot once it read the request";
}

TEST_F(RequestTest, StartOfAMissingFileShowsItBrokenAndStillAsksTheAgent)
{
    form->Items().GetFile(0)->UpdateData([](TMonItemRecord& r) {
        r.Monitored = false;
        r.MonStatus = msDisabled;
    });
    std::filesystem::remove(path);
    form->FoldersTreeChange(form->FoldersTree()->currentItem());
    SelectFile(path);
    Trigger("aStartMonitoring");
    ASSERT_TRUE(agent.WaitFor(MsgStart));
    const int row = form->RowOfPath(path);
    EXPECT_EQ(Column(row, 0), "Disabled") << "the row changes only on the agent's answer";
    agent.Report(MsgStart, form->Items().GetFile(0)->Data());
    ASSERT_TRUE(WaitUntil([&] { return Column(row, 0) == "Broken"; }));
    EXPECT_FALSE(form->FileList()->Checked(row));
    EXPECT_FALSE(form->Items().GetFile(0)->Monitored());
}

TEST_F(RequestTest, TickingACheckBoxSendsOnlyThatRow)
{
    const int row = form->RowOfPath(path);
    form->FileList()->SetChecked(row, false); // as a click on the box would
    form->FileListClick();
    ASSERT_TRUE(agent.WaitFor(MsgStop));
    EXPECT_EQ(agent.Received().size(), 1u);
    agent.ClearReceived();
    // Every row agrees now: a click sends nothing.
    form->FileListClick();
    EXPECT_TRUE(agent.NothingArrives());
}

TEST_F(RequestTest, MakeVersionPostsMakeWithThePath)
{
    form->Action("aMakeVersion")->trigger();
    const auto message = agent.WaitFor(MsgMake);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->WParam, 0u);
    EXPECT_EQ(agent.Block()->RequestOrigin, kOriginMonitor);
    ExpectPathArg(path);
}

TEST_F(RequestTest, ClearHistoryPostsClearWithoutTheMarker)
{
    // Clearing is offered from two versions on.
    for (const char* folder : {"001", "002"})
        WriteVersion(BackupRoot(), record.FileID.Get(), folder, "report.txt");
    form->VersionsClick();
    Trigger("aClearVersions");
    ASSERT_TRUE(agent.WaitFor(MsgClear));
    EXPECT_EQ(agent.Block()->RequestOrigin, 0);
    ExpectPathArg(path);
}

TEST_F(RequestTest, ReassignPostsUpdateWithTheWholeRecord)
{
    const std::string other = env.Work() + "sub/other.txt";
    WriteFile(other, "o");
    monitor::FileDialogs::PushAnswer(other);
    form->Action("aReassing")->trigger();

    const auto message = agent.WaitFor(MsgUpdate);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->WParam, 0u);
    const TMonItemRecord sent = agent.Block()->ItemRecord;
    EXPECT_EQ(sent.Path.Get(), other);
    EXPECT_EQ(sent.FileID.Get(), "240101123");
    EXPECT_EQ(sent.MonStatus, msActive);
    EXPECT_TRUE(sent.Monitored);
    // Nothing moves before the agent's answer: it may refuse the path.
    EXPECT_FALSE(form->Items().FileByPath(other));
    EXPECT_GE(form->RowOfPath(path), 0);

    // The answer: an ADD of the item's FileID at its new path.
    agent.Report(MsgAdd, sent);
    ASSERT_TRUE(WaitUntil([&] { return form->RowOfPath(other) >= 0; }));
    EXPECT_EQ(form->Items().FindByPath(path), -1);
    EXPECT_EQ(form->Items().FileCount(), 1);
    // The new folder has its node, and its files are on show.
    EXPECT_NE(form->FindNode(env.Work() + "sub/"), nullptr);
}

TEST_F(RequestTest, AReassignThatIsRefusedSaysSoInTheWindowsLanguage)
{
    const std::string language = env.Home() + "Testish.ini";
    WriteFile(language,
              "[MonitorMessages]\nMesReassignRefused=Nein: %1: %2\nMesReassignNotAbsolute=relativ\n");
    form->ApplyLanguage(language);
    // A name holding a placeholder stays as it is.
    monitor::FileDialogs::PushAnswer("rel%2.txt");
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    form->Action("aReassing")->trigger();
    EXPECT_EQ(MessageBoxes::TakeShownTexts(), std::vector<std::string>{"Nein: relativ: rel%2.txt"});
    EXPECT_TRUE(agent.NothingArrives());
}

TEST_F(RequestTest, OpenHandsTheFileToTheDesktop)
{
    form->Action("aFileOpen")->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Program, "");
    EXPECT_EQ(opened[0].Document, path);
    EXPECT_EQ(opened[0].Folder, env.Work());
}

TEST_F(RequestTest, WithoutAnAgentNothingIsChangedOrLost)
{
    const std::string version = WriteVersion(BackupRoot(), "240101123", "001", "report.txt");
    agent.Die();
    MessageBoxes::PushAnswer(BoxAnswer::Ok);
    Trigger("aDeleteFile");
    EXPECT_TRUE(FileExists(version));
    EXPECT_GE(form->Items().FindByPath(path), 0);
    EXPECT_GE(form->RowOfPath(path), 0);
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("agent is not running"), std::string::npos);

    // A check box the user ticked goes back to the item's state.
    const int row = form->RowOfPath(path);
    form->FileList()->SetChecked(row, false);
    form->FileListClick();
    EXPECT_TRUE(form->FileList()->Checked(row));
    EXPECT_TRUE(form->Items().GetFile(0)->Monitored());
    EXPECT_EQ(form->findChild<QLabel*>("AgentStatePanel")->text().toStdString(), "Agent not running");
}

TEST_F(RequestTest, CommandsWithoutASelectedRowDoNothing)
{
    form->FileList()->SetSelected(-1);
    Trigger("aDeleteFile");
    Trigger("aMakeVersion");
    Trigger("aClearVersions");
    Trigger("aStartMonitoring");
    Trigger("aFileOpen");
    EXPECT_TRUE(agent.NothingArrives());
    EXPECT_TRUE(opened.empty());
    EXPECT_GE(form->Items().FindByPath(path), 0);
}

} // namespace
} // namespace morvane::test
