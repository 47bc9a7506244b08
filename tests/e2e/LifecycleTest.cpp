#include "AgentFixture.h"
#include "common/TestSupport.h"
#include "platform/IniFile.h"

#include <QString>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

// Agents started by the test itself, each case with its own folders.
class Lifecycle : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (HasFailure() && agent)
            std::fprintf(stderr, "--- agent output ---\n%s\n", agent->Output().c_str());
    }

    AgentProcess& StartAgent(const std::string& answer = "no")
    {
        agent = std::make_unique<AgentProcess>(env, answer);
        agent->Start();
        EXPECT_TRUE(agent->WaitReady()) << agent->Output();
        return *agent;
    }

    test::TestEnv env;
    std::unique_ptr<AgentProcess> agent;
};

} // namespace

TEST_F(Lifecycle, StartFillsTheBlock)
{
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    const SharedBlock& b = *mon.Block();
    EXPECT_EQ(b.AgentDir.Get(), env.Home());
    EXPECT_EQ(b.Settings.BackupPath.Get(), env.Home() + "backup/");
    EXPECT_TRUE(fs::is_directory(env.Home() + "backup/"));
    // The user's language (English here) or, without its file, "English".
    EXPECT_EQ(QString::fromStdString(b.Settings.Language.Get()).toLower(), "english");
    EXPECT_EQ(b.RequestOrigin, 0);
    EXPECT_FALSE(b.MonitorRunning);
    EXPECT_NE(b.AgentWnd, 0u);
    for (int i = 0; i < kMessageCount; ++i) {
        EXPECT_GE(b.MessageIds[i], 0xC000u);
        for (int j = 0; j < i; ++j)
            EXPECT_NE(b.MessageIds[i], b.MessageIds[j]);
    }
    EXPECT_EQ(b.Text(TxtStatusBarFiles), "  Number of monitored files:");
    EXPECT_EQ(b.Text(TxtMesNotStartup),
              "Morvane Agent is not set to start at login. Do you want to set it now?");
    EXPECT_FALSE(fs::exists(env.Home() + "Langs/English.ini"))
        << "shipped texts are read where they are installed";
    IniFile::ClearCache();
    IniFile language(std::string(MORVANE_BIN) + "/Langs/English.ini");
    EXPECT_EQ(language.ReadString("Form1", "ShowPellary1.Caption", ""), "Show Monitor");
    EXPECT_EQ(language.ReadString("Form1", "Shutdown1.Caption", ""), "Shut down");
    EXPECT_EQ(language.ReadString("Form1", "kitTrayIcon1.Hint", ""), "Morvane Agent");
    EXPECT_TRUE(agent->WaitOutput("runs without its icon")) << "offscreen has no tray";
}

TEST_F(Lifecycle, SecondAgentShowsTheAlreadyStartedTextAndEnds)
{
    StartAgent();
    AgentProcess second(env, "ok");
    second.Start();
    ASSERT_TRUE(second.WaitExit());
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_NE(second.Output().find("BOX information: Morvane Agent is already running."), std::string::npos)
        << second.Output();
    EXPECT_TRUE(agent->Running());
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach()) << "the first agent's block is untouched";
}

TEST_F(Lifecycle, AfterAKillNoBlockExistsAndANewAgentStartsClean)
{
    StartAgent();
    {
        MonitorClient mon;
        ASSERT_TRUE(mon.Attach());
        mon.BecomeMonitor(true);
        mon.Block()->RequestOrigin = kOriginMonitor;
        agent->Kill();
        ASSERT_TRUE(agent->WaitExit());
        MonitorClient late;
        EXPECT_FALSE(late.Attach()) << "a dead agent's block must not count as existing";
    }
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(mon.Block()->RequestOrigin, 0);
    EXPECT_FALSE(mon.Block()->MonitorRunning);
    EXPECT_EQ(mon.Block()->MonitorWnd, 0u);
}

// A monitor keeps the block of an agent that was killed; the next agent joins it. Nobody
// who finds the new agent may find the dead agent's window meanwhile: a post there is lost.
TEST_F(Lifecycle, ANewAgentNeverShowsTheWindowOfAKilledOne)
{
    StartAgent();
    MonitorClient keeper;
    ASSERT_TRUE(keeper.Attach());
    keeper.BecomeMonitor(true);
    const std::uint32_t dead = keeper.Block()->AgentWnd;
    agent->Kill();
    ASSERT_TRUE(agent->WaitExit());

    agent = std::make_unique<AgentProcess>(env, "no");
    agent->Start();
    int deadSeen = 0;
    std::uint32_t published = 0;
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            for (int i = 0; i < 200 && !published; ++i) {
                // What a client that looks for the agent now finds.
                std::optional<SharedBlockMapping> found = SharedBlockMapping::OpenExisting();
                if (!found)
                    continue;
                const std::uint32_t wnd = (*found)->AgentWnd;
                deadSeen += wnd == dead;
                if (wnd != 0 && wnd != dead)
                    published = wnd;
            }
            return published != 0;
        },
        std::chrono::seconds(20)))
        << agent->Output();
    EXPECT_EQ(deadSeen, 0) << "the killed agent's window was offered to clients";
    EXPECT_TRUE(WindowExists(published));
    EXPECT_TRUE(keeper.Post(MsgReinit)) << "a client that kept the block reaches the new agent";
}

TEST_F(Lifecycle, TerminateSignalClosesTheMonitorStopsWatchesAndExitsZero)
{
    WriteQuickDefaults(env);
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    mon.BecomeMonitor(true);
    std::size_t added = 0;
    for (const char* name : {"w1", "w2", "w3"}) {
        fs::create_directories(env.Work() + name);
        // One record at a time: the block holds one.
        mon.RequestRecord(MsgAdd, ItemRecordFor(env.Work() + name + "/"));
        ASSERT_TRUE(mon.WaitReports(MsgAdd, ++added));
    }
    agent->Terminate();
    ASSERT_TRUE(mon.WaitReports(MsgClose, 1));
    ASSERT_TRUE(agent->WaitExit());
    EXPECT_FALSE(agent->Crashed());
    EXPECT_EQ(agent->ExitCode(), 0);
    const std::string out = agent->Output();
    const std::size_t start =
        out.find("quennet: version " MORVANE_VERSION " starts, data folder " + env.Home());
    EXPECT_NE(start, std::string::npos) << out;
    EXPECT_NE(out.find("quennet: ends, exit code 0", start), std::string::npos) << out;
    // The folders stay monitored for the next start.
    EXPECT_EQ(ListValue(env, env.Work() + "w2/", "Monitored"), "1");
}

TEST_F(Lifecycle, AutostartQuestionYesWritesTheQuotedProgramAndIsNotAskedAgain)
{
    StartAgent("yes");
    const std::string entry = agent->ConfigHome() + "autostart/Morvane.desktop";
    ASSERT_TRUE(agent->WaitOutput("BOX information: Morvane Agent is not set to start at login"));
    const std::string program = fs::canonical(AgentProcess::ProgramPath()).string();
    EXPECT_TRUE(test::WaitUntil([&] {
        return test::ReadFile(entry).find("Exec=\"" + program + "\"\n") != std::string::npos;
    })) << test::ReadFile(entry);
    agent->Terminate();
    ASSERT_TRUE(agent->WaitExit());

    StartAgent("yes");
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(agent->Output().find("is not set to start at login"), std::string::npos) << agent->Output();
}

TEST_F(Lifecycle, AutostartQuestionNoLeavesNothingAndUnquotedEntryIsReplaced)
{
    StartAgent("no");
    const std::string entry = agent->ConfigHome() + "autostart/Morvane.desktop";
    ASSERT_TRUE(agent->WaitOutput("is not set to start at login"));
    EXPECT_FALSE(fs::exists(entry));
    agent->Terminate();
    ASSERT_TRUE(agent->WaitExit());

    const std::string program = fs::canonical(AgentProcess::ProgramPath()).string();
    test::WriteFile(entry, "[Desktop Entry]\nExec=" + program + "\n");
    StartAgent("yes");
    ASSERT_TRUE(agent->WaitOutput("is not set to start at login")) << "an unquoted path counts as not set";
    EXPECT_TRUE(test::WaitUntil(
        [&] { return test::ReadFile(entry).find("Exec=\"" + program + "\"") != std::string::npos; }));
}

TEST_F(Lifecycle, CorruptSettingsFileGivesDefaults)
{
    test::WriteFile(env.Home() + "kelvrim.ini",
                    std::string("\xff\xfe[Basic\x00\nBackupPath\n[ExplorerMenu]]\n"
                                "LimitShowNumber=lots\n\n=\n",
                                56));
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(mon.Block()->Settings.LimitShowNumber, 10);
    EXPECT_EQ(mon.Block()->Settings.BackupPath.Get(), env.Home() + "backup/");
}

TEST_F(Lifecycle, RunsWithReadOnlyLanguageFile)
{
    test::WriteFile(env.Home() + "Langs/English.ini", "[SystemMessages]\nMenuAdd=Add it\n");
    fs::permissions(env.Home() + "Langs/English.ini", fs::perms::owner_read);
    fs::permissions(env.Home() + "Langs", fs::perms::owner_read | fs::perms::owner_exec);
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(mon.Block()->Text(TxtMenuAdd), "Add it");
    EXPECT_TRUE(agent->Running());
    fs::permissions(env.Home() + "Langs", fs::perms::owner_all);
}

TEST_F(Lifecycle, RunsWithoutLanguageFolder)
{
    // A home whose Langs/ cannot be made: the shipped texts still serve.
    test::WriteFile(env.Home() + "Langs", "not a folder");
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(mon.Block()->Text(TxtMesSystemFolder),
              "The folders that hold Morvane's own data and versions cannot be monitored.");
    EXPECT_EQ(QString::fromStdString(mon.Block()->Settings.Language.Get()).toLower(), "english");
}

TEST_F(Lifecycle, BadMessagesLeaveTheAgentRunning)
{
    WriteQuickDefaults(env);
    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    mon.BecomeMonitor(true);
    const std::string file = env.Work() + "bad/a.txt";
    test::WriteFile(file, "x");
    mon.RequestRecord(MsgAdd, ItemRecordFor(file));
    ASSERT_TRUE(mon.WaitReports(MsgAdd, 1));
    mon.ClearReports();

    mon.PostRaw(0xBEEF);
    mon.PostRaw(0);
    // A path argument that fills its field without an ending NUL.
    mon.Block()->RequestOrigin = 0;
    for (const MessageIndex request : {MsgStart, MsgDelete, MsgOpen}) {
        std::memset(mon.Block()->PathArg, 'a', sizeof mon.Block()->PathArg);
        mon.Post(request);
        ASSERT_TRUE(test::WaitUntil([&] { return mon.Block()->PathArg[0] == '\0'; }));
    }
    // A record whose path field claims more bytes than it holds.
    TMonItemRecord broken = ItemRecordFor(file);
    broken.Path.Len = 255;
    mon.RequestRecord(MsgAdd, broken);
    mon.RequestPath(MsgClear, file);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1)) << "the agent still answers";
    EXPECT_TRUE(agent->Running());
    EXPECT_NE(agent->Output().find("no terminating NUL"), std::string::npos);
}

TEST_F(Lifecycle, ItemsOnAnUnpluggedDiskNeitherDelayTheFirstAnswerNorTheEnd)
{
    // 2,000 files in 1,000 folders that are not there, and one file that is.
    const std::string here = env.Work() + "here/a.txt";
    test::WriteFile(here, "a");
    std::string list;
    auto section = [&list](const std::string& path, const std::string& id, bool folder) {
        list += "[" + path + "]\nFileID=" + id +
                "\nMonitored=1\nMonStatus=1\nIsSaved=1\nIsFolder=" + (folder ? "1" : "0") + "\n";
    };
    section(env.Work() + "here/", "1", true);
    section(here, "2", false);
    constexpr int kFolders = 1000;
    for (int i = 0; i < kFolders; ++i) {
        const std::string folder = env.Work() + "unplugged/d" + std::to_string(i) + "/";
        section(folder, "f" + std::to_string(i), true);
        section(folder + "a.txt", "a" + std::to_string(i), false);
        section(folder + "b.txt", "b" + std::to_string(i), false);
    }
    test::WriteFile(env.Home() + "mvlist.srv", list);

    StartAgent();
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    mon.BecomeMonitor(false); // answers only: no report of each broken folder
    // Loading one second per missing folder would take a quarter of an hour.
    ASSERT_TRUE(mon.RequestPath(MsgClear, here));
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1, std::chrono::seconds(20)))
        << "the first request was not answered";

    // The missing folders are marked broken in the end; their files are not (a file on a
    // disk that is not there is kept as it is).
    const std::string last = env.Work() + "unplugged/d" + std::to_string(kFolders - 1) + "/";
    EXPECT_TRUE(
        test::WaitUntil([&] { return ListValue(env, last, "MonStatus") == "2"; }, std::chrono::seconds(20)));
    EXPECT_EQ(ListValue(env, env.Work() + "unplugged/d0/", "MonStatus"), "2");
    EXPECT_EQ(ListValue(env, env.Work() + "unplugged/d0/", "Monitored"), "0");
    EXPECT_EQ(ListValue(env, env.Work() + "unplugged/d0/a.txt", "MonStatus"), "1");
    EXPECT_EQ(ListValue(env, env.Work() + "here/", "MonStatus"), "1");

    agent->Terminate();
    ASSERT_TRUE(agent->WaitExit(std::chrono::seconds(20)));
    EXPECT_EQ(agent->ExitCode(), 0);
}
