// The monitor's window with the real agent: every command goes to the agent and comes
// back as its answer.
#include "MonitorE2EFixture.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"

#include <QAction>
#include <QLabel>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>
#include <fstream>

namespace morvane::e2e {
namespace {

using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;
using namespace std::chrono_literals;

class MonitorWithAgent : public MonitorE2E
{
protected:
    void SetUp() override
    {
        StartAgent();
        StartMonitor();
    }

    // The newest version's file, as the versions list shows it first.
    std::string NewestVersion() const
    {
        if (VersionRows() == 0)
            return {};
        return Form().VerList()->SubItem(0, 2).toStdString() + Form().VerList()->Caption(0).toStdString();
    }

    bool WaitNewest(const std::string& text)
    {
        return WaitUntil([&] { return VersionRows() > 0 && ReadFile(NewestVersion()) == text; }, 30s);
    }

    // A file added and selected; adding it made its first version, holding text. The file
    // is dated in the past, so each later save with a later date is a change.
    std::string AddedFile(const std::string& name, const std::string& text)
    {
        const std::string path = env.Work() + name;
        WriteFile(path, text);
        TouchFile(path, -90);
        EXPECT_GE(AddFile(path), 0);
        Select(path);
        EXPECT_TRUE(WaitNewest(text));
        return path;
    }

    std::string FileIdOf(const std::string& path) const
    {
        const auto item = Form().Items().FileByPath(path);
        return item ? item->FileID() : std::string();
    }
};

TEST_F(MonitorWithAgent, SavingAFileAddsVersionsNewestFirst)
{
    const std::string path = AddedFile("diary.txt", "one");
    const int before = VersionRows();
    ReplaceFile(path, "two", -50);
    ASSERT_TRUE(WaitNewest("two"));
    EXPECT_EQ(VersionRows(), before + 1);
    EXPECT_EQ(VersionsColumn(path).substr(0, VersionsColumn(path).find('/')), std::to_string(before + 1));
    // Row 0 is the highest version folder.
    EXPECT_GT(std::stoi(Form().VerList()->SubItem(0, 0).toStdString()),
              std::stoi(Form().VerList()->SubItem(1, 0).toStdString()));
    EXPECT_EQ(Form().StatusText().toStdString(), "  Number of monitored files: 1");
}

TEST_F(MonitorWithAgent, MakeVersionAndClearHistory)
{
    const std::string path = AddedFile("plan.txt", "one");
    // Stopped, a save makes no version; the make command does.
    Trigger("aStopMonitoring");
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, path, "Monitored") == "0"; }, 20s));
    // The versions so far are older than the last save; clearing keeps only the one made
    // for it.
    const std::string backup = std::string(Form().Block()->Settings.BackupPath.Get()) + FileIdOf(path) + "/";
    for (const DirEntry& version : ListDir(backup))
        TouchFile(backup + version.Name, -120);
    ReplaceFile(path, "made", -30);
    Trigger("aMakeVersion");
    ASSERT_TRUE(WaitNewest("made"));
    ASSERT_GE(VersionRows(), 2);
    Form().UpdateActions();
    ASSERT_TRUE(Form().Action("aClearVersions")->isEnabled());

    Form().Action("aClearVersions")->trigger();
    ASSERT_TRUE(WaitVersionRows(1));
    EXPECT_EQ(ReadFile(NewestVersion()), "made");
}

TEST_F(MonitorWithAgent, ReassignMovesTheHistoryToTheOtherFile)
{
    const std::string path = AddedFile("old.txt", "one");
    const std::string fileId = FileIdOf(path);
    const std::string other = env.Work() + "moved/new.txt";
    WriteFile(other, "new");
    monitor::FileDialogs::PushAnswer(other);
    Trigger("aReassing");
    // The row moves with the agent's answer. The old file stays in a folder watched
    // whole, so a scan may take it again, as a new item with a history of its own.
    EXPECT_TRUE(WaitUntil([&] { return Form().RowOfPath(other) >= 0; }, 20s));
    const auto left = Form().Items().FileByPath(path);
    EXPECT_TRUE(!left || left->FileID() != fileId);
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, other, "FileID") == fileId; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return ListValue(env, path, "FileID") != fileId; }));
    Select(other);
    EXPECT_GE(VersionRows(), 1);
}

TEST_F(MonitorWithAgent, ReassigningOntoAMonitoredFileAsksFirstNamingItsVersions)
{
    const std::string other = AddedFile("kept.txt", "kept");
    const std::string otherId = FileIdOf(other);
    const std::string path = AddedFile("mover.txt", "mover");
    const std::string pathId = FileIdOf(path);
    const std::string otherHistory = std::string(Form().Block()->Settings.BackupPath.Get()) + otherId;

    // No: nothing reaches the agent.
    MessageBoxes::TakeShownTexts();
    monitor::FileDialogs::PushAnswer(other);
    MessageBoxes::PushAnswer(BoxAnswer::No);
    Trigger("aReassing");
    auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(other), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find("1 version."), std::string::npos) << shown[0];
    WaitUntil([] { return false; }, 1500ms);
    EXPECT_EQ(ListValue(env, other, "FileID"), otherId);
    EXPECT_EQ(ListValue(env, path, "FileID"), pathId);
    EXPECT_TRUE(std::filesystem::exists(otherHistory));

    // Yes: the item there goes, and the agent says which.
    Select(path);
    monitor::FileDialogs::PushAnswer(other);
    MessageBoxes::PushAnswer(BoxAnswer::Yes);
    Trigger("aReassing");
    shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return ListValue(env, other, "FileID") == pathId; }, 20s));
    EXPECT_TRUE(
        agent->WaitOutput("removed the item there: " + other + " (history " + otherId + ", 1 version)"))
        << agent->Output();
}

TEST_F(MonitorWithAgent, RemoveTakesTheFileOffEverywhere)
{
    const std::string path = AddedFile("gone.txt", "one");
    const std::string id = FileIdOf(path);
    const std::string backup = std::string(Form().Block()->Settings.BackupPath.Get()) + id + "/";
    ASSERT_TRUE(DirectoryExists(backup));
    Trigger("aDeleteFile");
    // The row goes with the agent's answer, and the history goes to the desktop trash.
    EXPECT_TRUE(WaitUntil([&] { return Form().RowOfPath(path) == -1; }, 20s));
    EXPECT_EQ(VersionRows(), 0);
    EXPECT_TRUE(FileExists(env.Home() + "xdg/Trash/files/" + id + "/001/gone.txt"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto sections = ListSections(env);
            return std::find(sections.begin(), sections.end(), path) == sections.end();
        },
        20s));
    EXPECT_TRUE(ListDir(backup).empty());
    EXPECT_TRUE(FileExists(path)) << "the file itself stays";
}

TEST_F(MonitorWithAgent, StartAndStopReachTheAgent)
{
    const std::string path = env.Work() + "switch.txt";
    WriteFile(path, "s");
    ASSERT_GE(AddFile(path), 0);
    Select(path);
    const auto status = [&] {
        return Form().FileList()->SubItem(Form().RowOfPath(path), 0).toStdString();
    };
    Trigger("aStopMonitoring");
    EXPECT_TRUE(WaitUntil([&] { return ListValue(env, path, "Monitored") == "0"; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return status() == "Disabled"; }, 20s));
    Trigger("aStartMonitoring");
    EXPECT_TRUE(WaitUntil([&] { return ListValue(env, path, "Monitored") == "1"; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return status() == "Active"; }, 20s));
}

TEST_F(MonitorWithAgent, OddFileNamesListAndOpenWhole)
{
    const std::string path = AddedFile("a=b \"c\".txt", "odd");
    ASSERT_GE(VersionRows(), 1);
    EXPECT_EQ(Form().VerList()->Caption(0).toStdString(), "a=b \"c\".txt");
    Form().VerList()->SetSelected(0);
    Trigger("aVerOpen");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Program, "");
    EXPECT_EQ(ReadFile(opened[0].Document), "odd");
    EXPECT_EQ(NamePart(opened[0].Document), "a=b \"c\".txt");
}

TEST_F(MonitorWithAgent, ADeletedBackupFolderLosesNothingElse)
{
    const std::string path = AddedFile("kept.txt", "one");
    std::filesystem::remove_all(Form().Block()->Settings.BackupPath.Get());
    Form().VersionsClick();
    EXPECT_EQ(VersionRows(), 0);
    ReplaceFile(path, "after", -40);
    EXPECT_TRUE(WaitNewest("after"));
    EXPECT_GE(Form().RowOfPath(path), 0);
}

TEST_F(MonitorWithAgent, AnAgentThatDiesLeavesTheMonitorWorking)
{
    const std::string path = AddedFile("safe.txt", "one");
    const int rows = VersionRows();
    const std::string newest = NewestVersion();
    agent->Kill();
    ASSERT_TRUE(agent->WaitExit());

    MessageBoxes::TakeShownTexts();
    Trigger("aDeleteFile");
    Trigger("aMakeVersion");
    const auto shown = MessageBoxes::TakeShownTexts();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0].find("agent is not running"), std::string::npos);
    EXPECT_GE(Form().RowOfPath(path), 0);
    EXPECT_EQ(VersionRows(), rows);
    EXPECT_TRUE(FileExists(newest));
    EXPECT_EQ(Form().findChild<QLabel*>("AgentStatePanel")->text().toStdString(), "Agent not running");

    // A new agent takes the requests again, and its answers reach this monitor.
    const std::uint32_t oldWindow = Form().Block()->AgentWnd;
    StartAgent(false);
    ASSERT_TRUE(WaitUntil([&] { return Form().Block()->AgentWnd != oldWindow; }));
    // The window takes up the new agent by itself.
    ASSERT_TRUE(WaitUntil([&] { return Form().Block()->MonitorRunning == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return Form().findChild<QLabel*>("AgentStatePanel")->isHidden(); }));
    ReplaceFile(path, "back", -40);
    Trigger("aMakeVersion");
    EXPECT_TRUE(WaitNewest("back"));
}

TEST_F(MonitorWithAgent, TheAgentsShutdownClosesTheMonitor)
{
    ASSERT_TRUE(Form().isVisible());
    agent->Terminate();
    EXPECT_TRUE(WaitUntil([&] { return !Form().isVisible(); }, 20s));
    EXPECT_FALSE(Form().Hooked());
    EXPECT_TRUE(agent->WaitExit());
}

TEST_F(MonitorWithAgent, ASecondMonitorBringsTheFirstToTheFront)
{
    Form().hide();
    auto second = StartMonitorProcess("no");
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(WaitUntil([&] { return Form().isVisible(); }));
}

using MonitorAlone = MonitorE2E;

// The process ids of agents started for this test's runtime folder.
std::vector<pid_t> AgentsOf(const test::TestEnv& env)
{
    std::vector<pid_t> pids;
    const std::string marker = "MORVANE_RUNTIME_DIR=" + env.Runtime();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (ReadFile(entry.path() / "comm") != "quennet\n")
            continue;
        std::string environ = ReadFile(entry.path() / "environ");
        for (char& c : environ)
            if (c == '\0')
                c = '\n';
        if (environ.find(marker + "\n") != std::string::npos)
            pids.push_back(std::stoi(name));
    }
    return pids;
}

TEST_F(MonitorAlone, WithoutAnAgentItOffersToStartIt)
{
    auto monitor = StartMonitorProcess("no");
    ASSERT_TRUE(monitor->waitForFinished(20000));
    const std::string output = ReadFile(MonitorLog());
    EXPECT_EQ(monitor->exitCode(), 0);
    EXPECT_NE(output.find("BOX warning:"), std::string::npos) << output;
    // The log shows where the run began and how it ended.
    const std::size_t start =
        output.find("kelvrim: version " MORVANE_VERSION " starts, data folder " + env.Home());
    EXPECT_NE(start, std::string::npos) << output;
    EXPECT_NE(output.find("kelvrim: ends, exit code 0", start), std::string::npos) << output;
    EXPECT_FALSE(IsAgentRunning().has_value());
    EXPECT_TRUE(AgentsOf(env).empty());

    monitor = StartMonitorProcess("yes");
    ASSERT_TRUE(monitor->waitForFinished(20000));
    EXPECT_TRUE(WaitUntil([] { return IsAgentRunning().has_value(); }, 20s)) << ReadFile(MonitorLog());
    const auto started = AgentsOf(env);
    EXPECT_EQ(started.size(), 1u);
    for (pid_t pid : started)
        ::kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return AgentsOf(env).empty(); }, 20s));
}

TEST_F(MonitorAlone, ALogoutsSignalEndsItAsExitDoes)
{
    StartAgent();
    auto block = IsAgentRunning();
    ASSERT_TRUE(block);
    const std::string layout = env.Home() + "mvparam.ini";
    // While it starts, and once its loop runs (it registers again when the flag is gone).
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "starting");
        std::filesystem::remove(layout);
        auto monitor = StartMonitorProcess("no");
        ASSERT_TRUE(WaitUntil([&] { return (*block)->MonitorRunning != 0; }, 20s)) << ReadFile(MonitorLog());
        if (running) {
            (*block)->MonitorRunning = 0;
            ASSERT_TRUE(WaitUntil([&] { return (*block)->MonitorRunning != 0; }, 20s));
        }
        ::kill(static_cast<pid_t>(monitor->processId()), SIGTERM);
        ASSERT_TRUE(monitor->waitForFinished(20000));
        EXPECT_EQ(monitor->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(monitor->exitCode(), 0) << ReadFile(MonitorLog());
        EXPECT_EQ((*block)->MonitorRunning, 0);
        EXPECT_NE(IniFile(layout).ReadString("FileList", "FileList.ViewStyle", ""), "");
    }
}

TEST_F(MonitorAlone, ACorruptListStillShowsTheGoodItems)
{
    const std::string good = env.Work() + "good.txt";
    WriteFile(good, "g");
    WriteQuickDefaults(env, 0);
    {
        std::ofstream out(env.Home() + "mvlist.srv", std::ios::app | std::ios::binary);
        out << "\n[" << good << "]\nFileID=240101555\nMonitored=1\n"
            << "[not/absolute.txt]\nFileID=240101556\n"
            << "garbage \x01\x02 without a section\n[unterminated\n";
    }
    agent = std::make_unique<AgentProcess>(env, "no");
    agent->Start();
    ASSERT_TRUE(agent->WaitReady()) << agent->Output();
    StartMonitor();
    Select(good);
    EXPECT_GE(Form().RowOfPath(good), 0);
}

} // namespace
} // namespace morvane::e2e
