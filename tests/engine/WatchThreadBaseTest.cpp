// What every watch thread gets from its base: a stop that reaches it wherever it waits,
// and an end that is always seen, whatever its body does.
#include "EngineFixture.h"
#include "engine/MainThreadCalls.h"
#include "engine/WatchThread.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace morvane::test {
namespace {

enum class Body
{
    Throws,         // fails: Failed is told why, Finished is set
    SleepsAnHour,   // the base's sleep
    WaitsOnTheMain, // a call onto the main thread that is never run
    OwnWait         // a wait of its own, which WakeWaits ends
};

class TestThread : public WatchThread
{
public:
    TestThread(MainThreadCalls& calls, Body body) : WatchThread(calls), m_body(body) { Start(); }
    ~TestThread() override { StopAndJoin(); }

    std::string Why() const
    {
        std::lock_guard lock(m_mutex);
        return m_why;
    }
    std::atomic<bool> Waiting{false};

private:
    void Execute() override
    {
        Waiting = true;
        switch (m_body) {
        case Body::Throws:
            throw std::runtime_error("disk gone");
        case Body::SleepsAnHour:
            SleepUnlessStopped(std::chrono::hours(1));
            break;
        case Body::WaitsOnTheMain:
            Calls().Synchronize([] {});
            break;
        case Body::OwnWait: {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_woken; });
            break;
        }
        }
    }
    void Failed(const std::string& why) override
    {
        std::lock_guard lock(m_mutex);
        m_why = why;
    }
    void WakeWaits() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_woken = true;
        }
        m_cv.notify_all();
    }

    const Body m_body;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_woken = false;
    std::string m_why;
};

class WatchThreadBase : public EngineFixture, public ::testing::WithParamInterface<Body>
{
};

TEST_P(WatchThreadBase, EndsAndIsJoinedWithoutTheMainThreadRunningItsQueue)
{
    TestThread thread(items->MainThread(), GetParam());
    // Without running the main thread's queue, which would end the wait on it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!thread.Waiting.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(thread.Waiting.load());
    if (GetParam() == Body::Throws) {
        ASSERT_TRUE(WaitUntil([&] { return thread.Finished(); }));
        EXPECT_EQ(thread.Why(), "disk gone");
        return;
    }
    EXPECT_FALSE(thread.Finished());
    const auto start = std::chrono::steady_clock::now();
    thread.RequestStop();
    thread.Join();
    EXPECT_TRUE(thread.Finished());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

INSTANTIATE_TEST_SUITE_P(Bodies, WatchThreadBase,
                         ::testing::Values(Body::Throws, Body::SleepsAnHour, Body::WaitsOnTheMain,
                                           Body::OwnWait),
                         test::RowNames({"Throws", "SleepsAnHour", "WaitsOnTheMain", "OwnWait"}));

// A thread that, once let go, either rests (and sleeps until stopped) or ends at once.
class StartingThread : public WatchThread
{
public:
    StartingThread(MainThreadCalls& calls, bool rests) : WatchThread(calls), m_rests(rests) { Start(); }
    ~StartingThread() override { StopAndJoin(); }

    void LetGo()
    {
        {
            std::lock_guard lock(m_mutex);
            m_go = true;
        }
        m_cv.notify_all();
    }
    std::atomic<bool> Rested{false};

private:
    void Execute() override
    {
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_go || StopRequested(); });
        }
        if (!m_rests || StopRequested())
            return;
        Rest();
        Rested = true;
        SleepUnlessStopped(std::chrono::hours(1));
    }
    void Failed(const std::string&) override {}
    void WakeWaits() override { LetGo(); }

    const bool m_rests;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_go = false;
};

class WatchThreadStart : public EngineFixture
{
};

// The heap is given back once, when the last thread of a start rests or ends, however
// the others got there.
TEST_F(WatchThreadStart, GivesTheHeapBackOnceTheLastStartingThreadRests)
{
    const struct
    {
        const char* name;
        std::vector<bool> rests; // in the order they are let go
    } cases[] = {
        {"all rest", {true, true, true}},
        {"one ends without resting", {true, false, true}},
        {"the last ends without resting", {true, true, false}},
        {"a single thread", {true}},
    };
    for (const auto& c : cases) {
        const int before = WatchThread::HeapReleases();
        std::vector<std::unique_ptr<StartingThread>> threads;
        for (const bool rests : c.rests)
            threads.push_back(std::make_unique<StartingThread>(items->MainThread(), rests));
        for (std::size_t i = 0; i < threads.size(); ++i) {
            StartingThread& t = *threads[i];
            t.LetGo();
            ASSERT_TRUE(WaitUntil([&] { return t.Rested.load() || t.Finished(); })) << c.name;
            if (i + 1 < threads.size()) {
                EXPECT_EQ(WatchThread::HeapReleases(), before) << c.name << ", after thread " << i;
            }
        }
        EXPECT_EQ(WatchThread::HeapReleases(), before + 1) << c.name;
        // Threads that rest again later do not give it back again.
        threads.clear();
        EXPECT_EQ(WatchThread::HeapReleases(), before + 1) << c.name;
    }
}

} // namespace
} // namespace morvane::test
