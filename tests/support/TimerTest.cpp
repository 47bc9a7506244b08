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
    using TkitCustomTimer::Enabled;
    using TkitCustomTimer::Interval;
    using TkitCustomTimer::SetEnabled;
    using TkitCustomTimer::SetInterval;
    using TkitCustomTimer::SetOnTimer;
    using TkitCustomTimer::TimerArmed;
};

class TimerTest : public ::testing::Test
{
protected:
    PublishedTimer timer;
    int ticks = 0;
    TkitCustomTimer::NotifyEvent Counter()
    {
        return [this](QObject* sender) {
            EXPECT_EQ(sender, &timer);
            ++ticks;
        };
    }
};

TEST_F(TimerTest, NewInstanceWithoutHandlerNeverArms)
{
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.TimerArmed());
    timer.SetInterval(5);
    EXPECT_FALSE(timer.TimerArmed());
}

TEST_F(TimerTest, ArmedExactlyWhileAllThreeConditionsHold)
{
    timer.SetInterval(5);
    timer.SetOnTimer(Counter());
    EXPECT_TRUE(timer.TimerArmed());
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));

    timer.SetInterval(0);
    EXPECT_FALSE(timer.TimerArmed());
    timer.SetInterval(5);
    EXPECT_TRUE(timer.TimerArmed());

    timer.SetEnabled(false);
    EXPECT_FALSE(timer.TimerArmed());
    const int stopped = ticks;
    timer.SetEnabled(true);
    ASSERT_TRUE(test::WaitUntil([&] { return ticks > stopped; }));

    timer.SetOnTimer({});
    EXPECT_FALSE(timer.TimerArmed());
}

TEST_F(TimerTest, FailingHandlerGoesToExceptionHandlerAndTimerKeepsRunning)
{
    int reported = 0;
    std::string message;
    TkitComponent::SetExceptionHandler([&](QObject* sender, const std::string& m) {
        EXPECT_EQ(sender, &timer);
        message = m;
        ++reported;
    });
    timer.SetInterval(5);
    timer.SetOnTimer([&](QObject*) {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    EXPECT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));
    TkitComponent::SetExceptionHandler({});
    timer.SetOnTimer({});
    EXPECT_EQ(message, "tick failed");
    EXPECT_GE(reported, 3);
}

TEST(TimerLifetime, DestroyingRunningTimerStopsTicks)
{
    int ticks = 0;
    auto timer = std::make_unique<PublishedTimer>();
    timer->SetInterval(1);
    timer->SetOnTimer([&](QObject*) { ++ticks; });
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 1; }));
    timer.reset();
    const int atDestruction = ticks;
    // Events still queued for the destroyed object must not reach a handler.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, atDestruction);
}

} // namespace
