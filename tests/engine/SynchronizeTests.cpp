// Many threads waiting on the main thread at once, as watch threads starting together do.
#include "EngineFixture.h"

#include <array>
#include <atomic>
#include <thread>

namespace morvane::test {
namespace {

using SynchronizeTest = EngineFixture;

TEST_F(SynchronizeTest, EachOfManyWaitingThreadsGetsItsOwnCallsEnd)
{
    constexpr int kThreads = 16;
    constexpr int kCalls = 25;
    std::array<int, kThreads> runs{}; // touched on the main thread only
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int c = 0; c < kCalls; ++c)
                items->MainThread().Synchronize([&runs, t] { ++runs[static_cast<std::size_t>(t)]; });
            ++finished;
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return finished.load() == kThreads; }));
    for (auto& t : threads)
        t.join();
    for (int n : runs)
        EXPECT_EQ(n, kCalls);
}

TEST_F(SynchronizeTest, AStopEndsOnlyThatThreadsWaitAndItsCallNeverRuns)
{
    constexpr int kThreads = 6;
    std::array<std::atomic<bool>, kThreads> stop{};
    std::array<std::atomic<int>, kThreads> result{};
    std::array<std::atomic<bool>, kThreads> ran{};
    std::array<std::atomic<bool>, kThreads> posting{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        result[t] = -1;
        threads.emplace_back([&, t] {
            MainThreadCalls::SetThreadStopFlag(&stop[t]);
            posting[t] = true;
            result[t] = items->MainThread().Synchronize([&ran, t] { ran[t] = true; }) ? 1 : 0;
        });
    }
    // The main thread runs no event meanwhile: only a wake-up can end these waits.
    for (auto& p : posting) {
        while (!p)
            std::this_thread::yield();
    }
    for (int t : {4, 0, 2}) {
        stop[t] = true;
        items->MainThread().WakeAll();
        threads[t].join();
        EXPECT_EQ(result[t].load(), 0) << t;
    }
    EXPECT_TRUE(WaitUntil([&] { return result[1] >= 0 && result[3] >= 0 && result[5] >= 0; }));
    for (int t : {1, 3, 5}) {
        threads[t].join();
        EXPECT_EQ(result[t].load(), 1) << t;
        EXPECT_TRUE(ran[t]) << t;
    }
    QCoreApplication::processEvents();
    for (int t : {0, 2, 4})
        EXPECT_FALSE(ran[t]) << "an abandoned call never runs: " << t;
}

} // namespace
} // namespace morvane::test
