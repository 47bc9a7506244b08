// The monitor never gets ahead of the real agent: what it shows changes on the agent's
// answers, so a slow or refusing agent leaves both in agreement and loses no history.
#include "MonitorE2EFixture.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"

#include <algorithm>
#include <csignal>

namespace morvane::e2e {
namespace {

using test::WaitUntil;
using test::WriteFile;
using namespace std::chrono_literals;

class MonitorFollowsAgent : public MonitorE2E
{
protected:
    void SetUp() override
    {
        // Only the files added are watched: a folder watched whole takes back, at its next
        // scan, any file in it that is not listed, so a removal there need not last.
        WriteQuickDefaults(env, 0);
        IniFile list(env.Home() + "mvlist.srv");
        list.WriteBool(kDefaultSection, "IsWholeFolder", false);
        list.Flush();
        StartAgent(false);
        StartMonitor();
    }

    // A file added through the window, with its first version on disk; its FileID. It
    // appears whole: an empty file seen on the way would rightly be a version of its own.
    std::string Added(const std::string& path)
    {
        ReplaceFile(path, "one", -90);
        EXPECT_GE(AddFile(path), 0);
        Select(path);
        EXPECT_TRUE(WaitVersionRows(1)) << path;
        const auto item = Form().Items().FileByPath(path);
        return item ? item->FileID() : std::string();
    }

    bool Listed(const std::string& path)
    {
        const auto sections = ListSections(env);
        return std::find(sections.begin(), sections.end(), path) != sections.end();
    }

    std::string Backup(const std::string& id) { return Form().Block()->Settings.BackupPath.Get() + id + "/"; }
    std::string Trash() const { return env.Home() + "xdg/Trash/files/"; }
};

TEST_F(MonitorFollowsAgent, RemoveWhileTheAgentIsBusyLosesNoVersion)
{
    const std::string path = env.Work() + "busy.txt";
    const std::string id = Added(path);
    ASSERT_FALSE(id.empty());
    const std::string version = Backup(id) + "001/busy.txt";
    ASSERT_TRUE(FileExists(version));

    // The agent is held for 4 s (stopped), as by a long scan or an open box.
    ASSERT_EQ(::kill(static_cast<pid_t>(agent->Pid()), SIGSTOP), 0);
    Trigger("aDeleteFile");
    WaitUntil([] { return false; }, 4s); // the window keeps handling events meanwhile
    EXPECT_GE(Form().RowOfPath(path), 0) << "nothing goes before the agent has answered";
    EXPECT_TRUE(FileExists(version));
    ASSERT_EQ(::kill(static_cast<pid_t>(agent->Pid()), SIGCONT), 0);

    // Once the agent takes the request, the item goes everywhere and its history is kept
    // in the trash.
    EXPECT_TRUE(WaitUntil([&] { return Form().RowOfPath(path) == -1; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return !Listed(path); }, 20s));
    EXPECT_TRUE(FileExists(Trash() + id + "/001/busy.txt"));
    EXPECT_FALSE(DirectoryExists(Backup(id)));
}

TEST_F(MonitorFollowsAgent, ARefusedReassignLeavesRowAndAgentInAgreement)
{
    const std::string path = env.Work() + "kept.txt";
    const std::string id = Added(path);
    // Inside the agent's home folder: the agent refuses it.
    const std::string refused = env.Home() + "inside.txt";
    WriteFile(refused, "x");
    monitor::FileDialogs::PushAnswer(refused);
    Trigger("aReassing");
    ASSERT_TRUE(agent->WaitOutput("refused to add " + refused, 20s)) << agent->Output();
    WaitUntil([] { return false; }, 500ms);
    EXPECT_GE(Form().RowOfPath(path), 0);
    EXPECT_EQ(Form().RowOfPath(refused), -1);
    EXPECT_EQ(ListValue(env, path, "FileID"), id);
    EXPECT_FALSE(Listed(refused));

    // A later Remove takes off the item the agent has, and its history is kept.
    Select(path);
    Trigger("aDeleteFile");
    EXPECT_TRUE(WaitUntil([&] { return !Listed(path); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return Form().RowOfPath(path) == -1; }, 20s));
    EXPECT_TRUE(FileExists(Trash() + id + "/001/kept.txt"));
}

TEST_F(MonitorFollowsAgent, NamesWithBracketsAreVersionedAndListedAfterARestart)
{
    const std::vector<std::string> paths{env.Work() + "draft [1].txt", env.Work() + "a]b.txt"};
    for (const std::string& path : paths)
        ASSERT_FALSE(Added(path).empty()) << path;
    for (const std::string& path : paths)
        ASSERT_TRUE(WaitUntil([&] { return !ListValue(env, path, "FileID").empty(); }, 20s)) << path;

    program.reset();
    agent->Terminate();
    ASSERT_TRUE(agent->WaitExit());
    StartAgent(false);
    StartMonitor();
    for (const std::string& path : paths) {
        EXPECT_GE(Select(path), 0) << path;
        EXPECT_TRUE(WaitVersionRows(1)) << path;
        EXPECT_EQ(VersionsColumn(path).substr(0, 2), "1/") << path;
    }
}

} // namespace
} // namespace morvane::e2e
