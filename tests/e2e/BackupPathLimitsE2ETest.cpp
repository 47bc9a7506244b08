#include "AgentHarness.h"
#include "common/TestSupport.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::e2e;
namespace fs = std::filesystem;

namespace {

// A settings file that names a folder with a zero byte in it (the part before it exists)
// and an item that needs a fresh FileID at start: the agent starts, serves, and a
// termination signal ends it within two seconds.
TEST(BackupPathLimits, AZeroByteInTheBackupPathNeitherHangsTheAgentNorKeepsItFromEnding)
{
    test::TestEnv env;
    WriteQuickDefaults(env);
    const std::string file = env.Work() + "notes.txt";
    test::WriteFile(file, "text");
    test::WriteFile(env.Home() + "kelvrim.ini",
                    "[Basic]\nBackupPath=" + env.Work() + std::string(1, '\0') + "elsewhere\n");
    std::string list = test::ReadFile(env.Home() + "mvlist.srv");
    test::WriteFile(env.Home() + "mvlist.srv", list + "[" + file + "]\nMonitored=1\n");

    AgentProcess agent(env);
    agent.Start();
    ASSERT_TRUE(agent.WaitReady()) << agent.Output();
    EXPECT_TRUE(agent.WaitOutput("control character")) << agent.Output();
    // The item's history goes to the default folder, never into the folder before the zero byte.
    MonitorClient mon;
    ASSERT_TRUE(mon.Attach());
    EXPECT_EQ(mon.Block()->Settings.BackupPath.Get(), env.Home() + "backup/");
    std::string id;
    ASSERT_TRUE(test::WaitUntil([&] { return !(id = ListValue(env, file, "FileID")).empty(); }))
        << agent.Output();
    EXPECT_FALSE(fs::exists(env.Work() + id));

    const auto sent = std::chrono::steady_clock::now();
    agent.Terminate();
    ASSERT_TRUE(agent.WaitExit(std::chrono::seconds(10))) << agent.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
    EXPECT_FALSE(agent.Crashed());
}

} // namespace
