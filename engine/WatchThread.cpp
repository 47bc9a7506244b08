#include "engine/WatchThread.h"

#include "engine/MainThreadCalls.h"

#include <exception>

namespace morvane {

WatchThread::WatchThread(MainThreadCalls& calls) : m_calls(calls) {}

WatchThread::~WatchThread()
{
    // A derived class that forgot StopAndJoin still never leaves a running thread behind
    // (its code is gone by now, but std::thread would end the program).
    StopAndJoin();
}

void WatchThread::Start()
{
    m_thread = std::thread([this] { Run(); });
}

void WatchThread::Run()
{
    MainThreadCalls::SetThreadStopFlag(&m_stop);
    try {
        Execute();
    } catch (const std::exception& e) {
        Report(e.what());
    } catch (...) {
        Report("an unknown error");
    }
    m_finished.store(true);
}

void WatchThread::Report(const char* why) noexcept
{
    // Nothing may leave the thread's entry point, not even from the report.
    try {
        Failed(why);
    } catch (...) {
    }
}

void WatchThread::RequestStop()
{
    m_stop.store(true);
    WakeWaits();
    {
        std::lock_guard lock(m_sleepMutex);
    }
    m_sleepCv.notify_all();
    // A wait of this thread on the main thread looks at its stop flag again.
    m_calls.WakeAll();
}

void WatchThread::Join()
{
    JoinThread();
}

void WatchThread::JoinThread()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void WatchThread::StopAndJoin()
{
    RequestStop();
    JoinThread();
}

bool WatchThread::SleepUnlessStopped(std::chrono::milliseconds d)
{
    std::unique_lock lock(m_sleepMutex);
    return m_sleepCv.wait_for(lock, d, [this] { return m_stop.load(); });
}

} // namespace morvane
