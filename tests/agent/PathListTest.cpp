#include "agent/AgentCommands.h"
#include "engine/EngineFixture.h"
#include "platform/MessageWindow.h"

#include <gtest/gtest.h>

using namespace morvane;

TEST(PathList, SplitsAtLineFeedsAndDropsCarriageReturns)
{
    const auto lines = AgentCommands::SplitPathList("/a/one.txt\r\n/a/two/\n/a/three.txt");
    EXPECT_EQ(lines, (std::vector<std::string>{"/a/one.txt", "/a/two/", "/a/three.txt"}));
}

TEST(PathList, SkipsEmptyAndOverLongLines)
{
    const std::string tooLong = "/" + std::string(255, 'x');
    const auto lines = AgentCommands::SplitPathList("\n\r\n/a/kept.txt\n" + tooLong + "\r\n\n/a/last.txt\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"/a/kept.txt", "/a/last.txt"}));
}

TEST(PathList, EmptyTextHasNoLines)
{
    EXPECT_TRUE(AgentCommands::SplitPathList("").empty());
    EXPECT_TRUE(AgentCommands::SplitPathList("\r\n\r\n").empty());
}

TEST(PathList, InnerCarriageReturnStaysInTheLine)
{
    // Only a CR right before the LF ends a line; one inside is left for the path tests
    // (which refuse control characters).
    EXPECT_EQ(AgentCommands::SplitPathList("/a/b\rc\n"), (std::vector<std::string>{"/a/b\rc"}));
}

using AgentCommandsTest = test::EngineFixture;

TEST_F(AgentCommandsTest, AFailedRequestIsToldOncePerCause)
{
    AgentCommands commands({block.get(),
                            items.get(),
                            &host,
                            nullptr,
                            [&] { return env.Home(); },
                            [&] { return BackupRoot(); },
                            {},
                            {}});
    AddFile(Work("d/a"));
    // A watch that fails for a reason of no known kind fails the request that starts it.
    items->SetWatchThreadFactory([](TRKMonFolder&) -> std::unique_ptr<WatchThread> { throw 0; });
    block->MessageIds[MsgAdd] = 0xC101;
    block->MessageIds[MsgStart] = 0xC102;
    // START, START again, then ADD of a folder fails, then START once more.
    for (const auto& [msg, told] : {std::pair{0xC102u, 1}, {0xC102u, 1}, {0xC101u, 2}, {0xC102u, 3}}) {
        std::snprintf(block->PathArg, sizeof block->PathArg, "%s", Work("d/").c_str());
        block->ItemRecord = EmptyItemRecord();
        block->ItemRecord.Path.Set(Work("e/"));
        commands.AppMessage(WindowMessage{msg, 0, 0});
        EXPECT_EQ(host.CountOf("ShowBalloon"), told) << msg;
    }
}
