#include "engine/MainThreadCalls.h"

#include "engine/EngineHost.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace morvane {

namespace {

thread_local const std::atomic<bool>* t_stopFlag = nullptr;

} // namespace

struct MainThreadCalls::Call
{
    std::function<void()> Fn;
    // The rest is guarded by the waiters' mutex.
    std::condition_variable Cv; // only this call's thread waits on it
    bool Done = false;
    bool Abandoned = false;
    std::size_t Slot = 0; // position in Waiters::Waiting while the thread waits
    std::exception_ptr Error;
};

struct MainThreadCalls::Waiters
{
    std::mutex Mutex;
    std::vector<Call*> Waiting; // guarded by Mutex; each call knows its slot
};

MainThreadCalls::MainThreadCalls(EngineHost* host) : m_host(host), m_waiters(std::make_shared<Waiters>()) {}

bool MainThreadCalls::Synchronize(std::function<void()> fn, const std::atomic<bool>* stop)
{
    if (!m_host || m_host->IsMainThread()) {
        fn();
        return true;
    }
    if (!stop)
        stop = t_stopFlag;

    auto call = std::make_shared<Call>();
    call->Fn = std::move(fn);
    std::shared_ptr<Waiters> hub = m_waiters;
    m_host->PostToMainThread([hub, call] {
        {
            std::lock_guard lock(hub->Mutex);
            if (call->Abandoned)
                return;
        }
        try {
            call->Fn();
        } catch (...) {
            call->Error = std::current_exception();
        }
        std::lock_guard lock(hub->Mutex);
        call->Done = true;
        call->Cv.notify_one();
    });

    std::unique_lock lock(hub->Mutex);
    call->Slot = hub->Waiting.size();
    hub->Waiting.push_back(call.get());
    // No timeout: the call's end wakes this wait, and so does WakeAll, which
    // follows every setting of a stop flag. The flag is looked at under the waiters' mutex,
    // so a wake-up that follows a setting cannot slip in before the wait begins.
    while (!call->Done) {
        // Giving up even while fn runs: the main thread may be inside fn's box and be
        // asked to join this thread from there.
        if (stop && stop->load()) {
            call->Abandoned = true;
            break;
        }
        call->Cv.wait(lock);
    }
    Call* last = hub->Waiting.back();
    last->Slot = call->Slot;
    hub->Waiting[call->Slot] = last;
    hub->Waiting.pop_back();
    if (!call->Done)
        return false;
    lock.unlock();
    if (call->Error)
        std::rethrow_exception(call->Error);
    return true;
}

void MainThreadCalls::Post(std::function<void()> fn)
{
    if (!m_host || m_host->IsMainThread())
        fn();
    else
        m_host->PostToMainThread(std::move(fn));
}

void MainThreadCalls::WakeAll()
{
    std::lock_guard lock(m_waiters->Mutex);
    for (Call* call : m_waiters->Waiting)
        call->Cv.notify_one();
}

void MainThreadCalls::SetThreadStopFlag(const std::atomic<bool>* stop)
{
    t_stopFlag = stop;
}

const std::atomic<bool>* MainThreadCalls::ThreadStopFlag()
{
    return t_stopFlag;
}

bool MainThreadCalls::StopRequested()
{
    return t_stopFlag && t_stopFlag->load();
}

} // namespace morvane
