#pragma once

// A console host for engine benchmarks: records the times of tray images and balloons,
// answers every box with OK/Yes and counts boxes; main-thread calls go through the Qt
// loop that Pump runs.
#include "engine/EngineHost.h"
#include "engine/SharedBlock.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonItems.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <mutex>
#include <vector>

namespace morvane::bench {

using Clock = std::chrono::steady_clock;

class BenchHost : public EngineHost
{
public:
    void ShowMainWindow() override {}
    void BringMainWindowToFront() override {}
    void HideMainWindow() override {}
    void SetBalloonTitle(const std::string&) override {}
    void SetBalloonText(const std::string&) override {}
    void ShowBalloon() override
    {
        std::lock_guard lock(m_mutex);
        Balloons.push_back(Clock::now());
    }
    void SetTrayImage(int index) override
    {
        std::lock_guard lock(m_mutex);
        (index ? BusyAt : IdleAt).push_back(Clock::now());
    }
    BoxAnswer ShowMessage(BoxKind, const std::string& text, BoxButtons buttons) override
    {
        if (++BoxCount <= 3)
            std::cerr << "box: " << text << std::endl;
        return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Yes;
    }
    void PostToMainThread(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(&m_context, std::move(fn), Qt::QueuedConnection);
    }
    bool IsMainThread() const override { return QThread::currentThread() == m_context.thread(); }

    template <typename T>
    T Locked(const std::function<T()>& fn)
    {
        std::lock_guard lock(m_mutex);
        return fn();
    }

    std::vector<Clock::time_point> Balloons, BusyAt, IdleAt;
    std::atomic<int> BoxCount{0};

private:
    QObject m_context;
    std::mutex m_mutex;
};

// Runs the main thread's queue until pred holds or timeout passes.
inline bool Pump(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

// A zeroed block with the texts and balloon switch the agent would set.
inline void InitBlock(SharedBlock& block)
{
    std::memset(static_cast<void*>(&block), 0, sizeof block);
    block.Settings.ShowBaloon = true;
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        if (kTextSlots[slot].Default)
            block.Texts[slot].Set(kTextSlots[slot].Default);
    }
}

// The engine as the agent runs it: active, with folder watch threads, on a block of its
// own whose backup path is the engine's backup root.
struct ActiveEngine
{
    explicit ActiveEngine(const std::string& home) : Items((InitBlock(Block), &Block), &Host, home)
    {
        Block.Settings.BackupPath.Set(Items.BackupRoot());
        Items.SetActive(true);
        TMonDirThread::Install(Items);
    }

    SharedBlock Block;
    BenchHost Host;
    TRKMonItems Items;
};

inline double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace morvane::bench
