#include "KitThread.h"

#include "support/TkitComponent.h"

#include <QCoreApplication>
#include <QThread>

namespace morvane {

// One call waiting for the main thread. Shared by the worker that waits and the queued
// step that runs it, so either may go first.
struct KitThread::Sync
{
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    bool Cancelled = false;
    std::exception_ptr Error;
};

bool OnMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void PostToMainThread(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

// Shared with the queued calls, which may run after the reporter is gone.
struct ChangeReporter::State
{
    std::function<void()> Handler;
    std::atomic<bool> Closed{false};
    std::atomic<bool> Pending{false};
};

ChangeReporter::ChangeReporter(std::function<void()> handler) : m_state(std::make_shared<State>())
{
    m_state->Handler = std::move(handler);
}

void ChangeReporter::Report()
{
    if (m_state->Closed.load() || m_state->Pending.exchange(true))
        return; // the queued call reports this change too
    PostToMainThread([state = m_state] {
        // Cleared first: a change made while the handler runs is a new report.
        state->Pending.store(false);
        if (state->Closed.load() || !state->Handler)
            return;
        try {
            state->Handler();
        } catch (const std::exception& e) {
            TkitComponent::HandleException(nullptr, e.what());
        } catch (...) {
            TkitComponent::HandleException(nullptr, "unknown exception in a change handler");
        }
    });
}

void ChangeReporter::Close()
{
    m_state->Closed.store(true);
}

KitThread::KitThread(bool createSuspended)
    : m_id([] {
          static std::atomic<unsigned long long> next{1};
          return next++;
      }())
{
    if (!createSuspended)
        Resume();
}

KitThread::~KitThread()
{
    m_alive->store(false);
    Stop(true);
}

void KitThread::Resume()
{
    std::lock_guard guard(m_lock);
    m_suspended = false;
    if (!m_started) {
        m_started = true;
        m_thread = std::thread([this] { Run(); });
    }
    m_cv.notify_all();
}

void KitThread::Suspend()
{
    std::lock_guard guard(m_lock);
    m_suspended = true;
}

bool KitThread::Suspended() const
{
    std::lock_guard guard(m_lock);
    return m_suspended;
}

void KitThread::Terminate()
{
    std::shared_ptr<Sync> sync;
    {
        std::lock_guard guard(m_lock);
        m_terminated.store(true);
        sync = m_sync;
        m_cv.notify_all();
    }
    // A worker waiting for the main thread is released, so the main thread can join it.
    if (sync) {
        std::lock_guard guard(sync->Lock);
        sync->Cancelled = true;
        sync->Done.notify_all();
    }
}

void KitThread::Stop(bool terminate)
{
    if (terminate)
        Terminate();
    bool started;
    {
        std::lock_guard guard(m_lock);
        started = m_started;
        m_suspended = false;
        m_cv.notify_all();
    }
    if (!started) {
        m_finished.store(true);
        return;
    }
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    else
        m_thread.detach(); // a worker that ends its own object cannot wait for itself
}

void KitThread::SetOnTerminate(std::function<void()> handler)
{
    std::lock_guard guard(m_lock);
    m_onTerminate = std::move(handler);
}

std::function<void()> KitThread::OnTerminate() const
{
    std::lock_guard guard(m_lock);
    return m_onTerminate;
}

void KitThread::Run()
{
    try {
        if (!Terminated())
            Execute();
    } catch (...) {
        // Execute of every worker catches its own; nothing may leave the thread.
    }
    m_finished.store(true);
    std::function<void()> onTerminate = OnTerminate();
    if (onTerminate) {
        PostToMainThread([alive = m_alive, onTerminate] {
            if (alive->load())
                onTerminate();
        });
    }
}

KitThread::SleepResult KitThread::Sleep(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(m_lock);
    const bool untimed = timeout.count() < 0;
    const auto deadline =
        std::chrono::steady_clock::now() + (untimed ? std::chrono::milliseconds(0) : timeout);
    bool wasSuspended = false;
    for (;;) {
        if (m_terminated.load())
            return SleepResult::Terminated;
        if (m_suspended) {
            wasSuspended = true;
            m_cv.wait(guard);
            continue;
        }
        // Coming back from a suspension starts afresh, like a wake-up.
        if (m_woken || wasSuspended) {
            m_woken = false;
            return SleepResult::Woken;
        }
        if (untimed)
            m_cv.wait(guard);
        else if (m_cv.wait_until(guard, deadline) == std::cv_status::timeout && !m_woken && !m_suspended &&
                 !m_terminated.load())
            return SleepResult::Timeout;
    }
}

void KitThread::WakeUp()
{
    std::lock_guard guard(m_lock);
    m_woken = true;
    m_cv.notify_all();
}

bool KitThread::Synchronize(const std::function<void()>& method)
{
    if (OnMainThread()) {
        method();
        return true;
    }
    auto sync = std::make_shared<Sync>();
    {
        std::lock_guard guard(m_lock);
        if (m_terminated.load())
            return false;
        m_sync = sync;
    }
    PostToMainThread([sync, method] {
        {
            std::lock_guard guard(sync->Lock);
            if (sync->Cancelled)
                return;
        }
        std::exception_ptr error;
        try {
            method();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard guard(sync->Lock);
        sync->Finished = true;
        sync->Error = error;
        sync->Done.notify_all();
    });
    std::unique_lock wait(sync->Lock);
    sync->Done.wait(wait, [&] { return sync->Finished || sync->Cancelled; });
    const bool finished = sync->Finished;
    // Once cancelled the step never runs, even when the main thread reaches it later.
    sync->Cancelled = true;
    const std::exception_ptr error = sync->Error;
    wait.unlock();
    {
        std::lock_guard guard(m_lock);
        m_sync.reset();
    }
    if (error)
        std::rethrow_exception(error);
    return finished;
}

} // namespace morvane
