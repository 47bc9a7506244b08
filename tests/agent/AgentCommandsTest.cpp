#include "agent/AgentCommands.h"

#include "engine/EngineFixture.h"
#include "platform/MessageWindow.h"

namespace morvane::test {
namespace {

using AgentCommandsTest = EngineFixture;

TEST_F(AgentCommandsTest, AFailedRequestIsToldOncePerCause)
{
    AgentCommands commands({block.get(), items.get(), &host, nullptr, {}, {}, {}, {}});
    AddFile(Work("d/a"));
    std::string cause;
    items->SetWatchThreadFactory(
        [&](TRKMonFolder&) -> std::unique_ptr<WatchThread> { throw std::runtime_error(cause); });
    block->MessageIds[MsgStart] = 0xC102;
    for (const auto& [said, told] : {std::pair{"one", 1}, {"one", 1}, {"two", 2}, {"one", 3}}) {
        cause = said;
        std::snprintf(block->PathArg, sizeof block->PathArg, "%s", Work("d/").c_str());
        commands.AppMessage(WindowMessage{0xC102, 0, 0});
        EXPECT_EQ(host.CountOf("ShowBalloon"), told) << said;
    }
}

} // namespace
} // namespace morvane::test
