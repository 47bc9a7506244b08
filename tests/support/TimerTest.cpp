#include "common/TestSupport.h"
#include "support/TkitCustomTimer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

using namespace morvane;

namespace {

// Publishes the timer's accessors, as every descendant does under its own names.
class PublishedTimer : public TkitCustomTimer
{
public:
    using TkitCustomTimer::SetEnabled;
    using TkitCustomTimer::SetInterval;
    using TkitCustomTimer::SetOnTimer;
    using TkitCustomTimer::TimerArmed;
};

TEST(TimerTest, ArmedExactlyWhileIntervalEnabledAndHandlerAllHold)
{
    PublishedTimer timer;
    int ticks = 0;
    timer.SetInterval(5);
    EXPECT_FALSE(timer.TimerArmed()); // no handler yet
    timer.SetOnTimer([&](QObject* sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 2; }));
    timer.SetInterval(0);
    EXPECT_FALSE(timer.TimerArmed());
    timer.SetInterval(5);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.TimerArmed());
    const int stopped = ticks;
    timer.SetEnabled(true);
    ASSERT_TRUE(test::WaitUntil([&] { return ticks > stopped; }));
    timer.SetOnTimer({});
    EXPECT_FALSE(timer.TimerArmed());
}

TEST(TimerTest, FailingHandlerIsReportedAndTimerKeepsRunning)
{
    PublishedTimer timer;
    int ticks = 0;
    std::string message;
    TkitComponent::SetExceptionHandler([&](QObject*, const std::string& m) { message = m; });
    timer.SetInterval(5);
    timer.SetOnTimer([&](QObject*) {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    EXPECT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));
    TkitComponent::SetExceptionHandler({});
    EXPECT_EQ(message, "tick failed");
}

TEST(TimerTest, DestroyedTimerTicksNoMore)
{
    int ticks = 0;
    auto timer = std::make_unique<PublishedTimer>();
    timer->SetInterval(1);
    timer->SetOnTimer([&](QObject*) { ++ticks; });
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 1; }));
    timer.reset();
    const int atDestruction = ticks;
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, atDestruction);
}

} // namespace
