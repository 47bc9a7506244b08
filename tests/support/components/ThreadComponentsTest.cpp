#include "common/TestSupport.h"
#include "support/components/MessageBoxes.h"
#include "support/components/TkitCustomFolderMonitor.h"
#include "support/components/TkitCustomThreadTimer.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

using namespace morvane;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Lets queued calls run for a while, so that a late report would be seen.
void Pump(milliseconds duration)
{
    test::WaitUntil([] { return false; }, duration);
}

// Stopping waits for no interval and no handler queued on the main thread. The faults
// this catches take a whole interval (a minute here), so the bound is generous.
constexpr milliseconds kStopBound{500};

struct Counter
{
    std::atomic<int> Runs{0};
};

// One running worker of each kind, busy in the state that used to keep it alive.
struct RunningWorker
{
    const char* Name;
    std::function<std::unique_ptr<QObject>(Counter&, const std::string& folder)> Start;
};

std::unique_ptr<QObject> LongTimer(Counter& counter, bool synchronized)
{
    auto timer = std::make_unique<TkitThreadTimer>();
    timer->SetInterval(60000);
    timer->SetSynchronized(synchronized);
    timer->SetOnTimer([&counter](QObject*) { ++counter.Runs; });
    timer->SetEnabled(true);
    return timer;
}

class StopTest : public ::testing::TestWithParam<RunningWorker>
{
};

TEST_P(StopTest, EndsPromptlyAndReportsNothingAfter)
{
    test::TestEnv env;
    Counter counter;
    std::unique_ptr<QObject> worker = GetParam().Start(counter, env.Work());
    Pump(milliseconds(50)); // let the worker reach its wait
    const int before = counter.Runs.load();
    const auto start = Clock::now();
    worker.reset();
    EXPECT_LT(Clock::now() - start, kStopBound);
    test::WriteFile(env.Work() + "late.txt", "x");
    Pump(milliseconds(200));
    EXPECT_EQ(counter.Runs.load(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Workers, StopTest,
    ::testing::Values(RunningWorker{"TimerWaitingItsInterval",
                                    [](Counter& c, const std::string&) {
                                        return LongTimer(c, false);
                                    }},
                      RunningWorker{"SynchronizedTimerWaitingItsInterval",
                                    [](Counter& c, const std::string&) {
                                        return LongTimer(c, true);
                                    }},
                      RunningWorker{"TimerWithIntervalZero",
                                    [](Counter& c, const std::string&) {
                                        auto timer = LongTimer(c, false);
                                        static_cast<TkitThreadTimer*>(timer.get())->SetInterval(0);
                                        return timer;
                                    }},
                      RunningWorker{"SynchronizedTimerBlockedOnTheMainThread",
                                    [](Counter& c, const std::string&) {
                                        auto timer = LongTimer(c, true);
                                        static_cast<TkitThreadTimer*>(timer.get())->SetInterval(1);
                                        // The main thread does not answer: the worker waits in its
                                        // synchronized call when the timer is destroyed.
                                        QThread::msleep(30);
                                        c.Runs = 0;
                                        return timer;
                                    }},
                      RunningWorker{"FolderMonitorWaitingForAChange",
                                    [](Counter& c, const std::string& folder) {
                                        auto monitor = std::make_unique<TkitFolderMonitor>();
                                        monitor->SetFolder(folder);
                                        monitor->SetOnChange([&c] { ++c.Runs; });
                                        monitor->SetActive(true);
                                        return monitor;
                                    }},
                      RunningWorker{"FolderMonitorWithReportQueued",
                                    [](Counter& c, const std::string& folder) {
                                        auto monitor = std::make_unique<TkitFolderMonitor>();
                                        monitor->SetFolder(folder);
                                        monitor->SetOnChange([&c] { ++c.Runs; });
                                        monitor->SetActive(true);
                                        test::WriteFile(folder + "first.txt", "x");
                                        // Reported, but not delivered: the main thread is busy.
                                        QThread::msleep(150);
                                        return monitor;
                                    }},
                      RunningWorker{"FolderMonitorOnAMissingFolder",
                                    [](Counter& c, const std::string& folder) {
                                        auto monitor = std::make_unique<TkitFolderMonitor>();
                                        monitor->SetFolder(folder + "missing/");
                                        monitor->SetOnChange([&c] { ++c.Runs; });
                                        monitor->SetActive(true);
                                        return monitor;
                                    }}),
    [](const ::testing::TestParamInfo<RunningWorker>& info) { return std::string(info.param.Name); });

TEST(ThreadTimerTest, IntervalChangeStartsAFreshWaitWithoutAnEarlyTick)
{
    TkitThreadTimer timer;
    std::mutex lock;
    std::vector<Clock::time_point> ticks;
    timer.SetInterval(300);
    timer.SetOnTimer([&](QObject*) {
        std::lock_guard guard(lock);
        ticks.push_back(Clock::now());
    });
    timer.SetEnabled(true);
    QThread::msleep(150);
    const auto changed = Clock::now();
    timer.SetInterval(400);
    ASSERT_TRUE(test::WaitUntil([&] {
        std::lock_guard guard(lock);
        return !ticks.empty();
    }));
    std::lock_guard guard(lock);
    // The old wait would have ended 150 ms after the change.
    EXPECT_GE(ticks.front() - changed, milliseconds(390));
}

TEST(ThreadTimerTest, IntervalZeroAndDisabledNeverTickAndSuspensionSurvivesIntervalChange)
{
    TkitThreadTimer timer;
    std::atomic<int> ticks{0};
    timer.SetOnTimer([&](QObject*) { ++ticks; });
    timer.SetInterval(0);
    timer.SetEnabled(true);
    Pump(milliseconds(100));
    EXPECT_EQ(ticks.load(), 0);

    timer.SetEnabled(false);
    timer.SetInterval(5);
    EXPECT_FALSE(timer.Enabled());
    Pump(milliseconds(100));
    EXPECT_EQ(ticks.load(), 0);

    timer.SetEnabled(true);
    EXPECT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));
}

class ThreadComponentTest : public ::testing::Test
{
protected:
    void SetUp() override { MessageBoxes::Reset(); }
    void TearDown() override { MessageBoxes::Reset(); }
};

TEST_F(ThreadComponentTest, LoadedNotSuspendedAndSynchronizedRunsOnceOnTheMainThread)
{
    TkitThreadComponent component;
    std::atomic<int> runs{0};
    std::atomic<bool> onMain{false};
    component.SetOnExecute([&](QObject* sender) {
        EXPECT_EQ(sender, &component);
        onMain = QThread::currentThread() == qApp->thread();
        ++runs;
    });
    component.BeginLoading();
    component.SetSuspended(false);
    component.SetSynchronized(true);
    EXPECT_EQ(runs.load(), 0);
    component.Loaded();
    ASSERT_TRUE(test::WaitUntil([&] { return runs == 1; }));
    EXPECT_TRUE(onMain);
    Pump(milliseconds(50));
    EXPECT_EQ(runs.load(), 1);

    // Restart runs it again on a fresh worker, still synchronized.
    component.Restart();
    ASSERT_TRUE(test::WaitUntil([&] { return runs == 2; }));
    EXPECT_TRUE(onMain);
}

TEST_F(ThreadComponentTest, RestartedTimerStaysATimerWithItsInterval)
{
    TkitThreadTimer timer;
    std::atomic<int> ticks{0};
    timer.SetInterval(5);
    timer.SetOnTimer([&](QObject*) { ++ticks; });
    timer.Restart();
    ASSERT_NE(dynamic_cast<TkitTimerThread*>(timer.Thread()), nullptr);
    EXPECT_EQ(timer.Interval(), 5u);
    EXPECT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));
}

TEST_F(ThreadComponentTest, RestartNeverWaitsForAWorkerThatDoesNotEnd)
{
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> runs{0}, ended{0}, reports{0};
    {
        TkitThreadComponent component;
        component.SetOnException([&](QObject*, const std::exception_ptr&) { ++reports; });
        component.SetOnExecute([&](QObject*) {
            const int run = ++runs;
            if (run == 1) {
                // Stuck until the test lets it go; then it fails, too late to be heard.
                released.wait_for(std::chrono::seconds(60));
                ++ended;
                throw std::runtime_error("after its time");
            }
            ++ended;
        });
        component.SetSuspended(false);
        ASSERT_TRUE(test::WaitUntil([&] { return runs == 1; }));
        component.Restart();
        EXPECT_EQ(ended.load(), 0); // returned while the first run still hangs
        ASSERT_TRUE(test::WaitUntil([&] { return runs == 2 && ended == 1; }));
        release.set_value();
        ASSERT_TRUE(test::WaitUntil([&] { return ended == 2; }));
        Pump(milliseconds(50));
    }
    EXPECT_EQ(reports.load(), 0);
    EXPECT_TRUE(MessageBoxes::TakeShownTexts().empty());

    // The retired and the fresh worker both wait for a main thread that never answers:
    // destroying the component cancels both waits and joins both workers.
    std::atomic<int> entered{0}, waiting{0}, unanswered{0};
    std::promise<void> restarted;
    const std::shared_future<void> afterRestart = restarted.get_future().share();
    {
        TkitThreadComponent component;
        component.SetOnExecute([&](QObject*) {
            if (++entered == 1)
                afterRestart.wait_for(std::chrono::seconds(60));
            ++waiting;
            if (!component.Synchronize([] {}))
                ++unanswered;
        });
        component.SetSuspended(false);
        ASSERT_TRUE(test::WaitUntil([&] { return entered == 1; }));
        component.Restart();
        restarted.set_value();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (waiting < 2 && Clock::now() < deadline)
            std::this_thread::yield();
        QThread::msleep(30); // into their waits; the main thread does not answer
    }
    EXPECT_EQ(unanswered.load(), 2);
}

struct ExceptionCase
{
    const char* Name;
    bool Timer;
    bool WithHandler;
};

class ThreadExceptionTest : public ThreadComponentTest, public ::testing::WithParamInterface<ExceptionCase>
{
};

TEST_P(ThreadExceptionTest, IsReportedOnTheMainThreadAndTheWorkerGoesOn)
{
    const ExceptionCase& c = GetParam();
    std::unique_ptr<TkitCustomThreadComponent> component;
    if (c.Timer) {
        auto timer = std::make_unique<TkitThreadTimer>();
        timer->SetInterval(5);
        component = std::move(timer);
    } else {
        component = std::make_unique<TkitThreadComponent>();
    }
    component->setObjectName("Worker1");
    std::atomic<int> runs{0};
    component->SetOnExecute([&](QObject*) {
        ++runs;
        throw std::invalid_argument("bad input");
    });
    std::vector<std::string> reports;
    if (c.WithHandler)
        component->SetOnException([&](QObject* sender, const std::exception_ptr& error) {
            EXPECT_EQ(sender, component.get());
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            reports.push_back(ThreadExceptionText(sender->objectName(), error));
        });
    component->SetSuspended(false);
    const int expected = c.Timer ? 3 : 1;
    ASSERT_TRUE(test::WaitUntil([&] {
        if (!c.WithHandler)
            for (const std::string& text : MessageBoxes::TakeShownTexts())
                reports.push_back(text);
        return static_cast<int>(reports.size()) >= expected;
    }));
    component.reset();
    EXPECT_GE(runs.load(), expected);
    EXPECT_EQ(reports.front(),
              "Thread Worker1 raised exception class std::invalid_argument with message \"bad input\".");
}

INSTANTIATE_TEST_SUITE_P(Cases, ThreadExceptionTest,
                         ::testing::Values(ExceptionCase{"ComponentToHandler", false, true},
                                           ExceptionCase{"ComponentToBox", false, false},
                                           ExceptionCase{"TimerToHandler", true, true},
                                           ExceptionCase{"TimerToBox", true, false}),
                         [](const ::testing::TestParamInfo<ExceptionCase>& info) {
                             return std::string(info.param.Name);
                         });

} // namespace
