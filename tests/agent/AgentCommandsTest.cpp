#include "agent/AgentCommands.h"

#include "engine/EngineFixture.h"
#include "platform/MessageWindow.h"

namespace morvane::test {
namespace {

using AgentCommandsTest = EngineFixture;

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

} // namespace
} // namespace morvane::test
