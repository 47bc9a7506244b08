#pragma once

#include "TkitEventThread.h"
#include "support/TkitComponent.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace morvane {

// Runs OnExecute on a worker thread without a thread class of its own: once each time
// the worker is let go (Suspended := false) or Restart is called. The worker is created
// suspended with the component and joined when it goes. OnExecute runs on the worker,
// or on the main thread when Synchronized. An exception it raises never ends the
// program: it is reported once on the main thread, to OnException or in an error box.
// Create, set up and destroy on the main thread; Synchronize and SynchronizeCall are
// for OnExecute.
class TkitCustomThreadComponent : public TkitComponent
{
    Q_OBJECT

public:
    using NotifyEvent = std::function<void(QObject* sender)>;
    // sender is the component; error is what OnExecute raised.
    using ExceptionEvent = std::function<void(QObject* sender, const std::exception_ptr& error)>;

    explicit TkitCustomThreadComponent(QObject* owner = nullptr);
    ~TkitCustomThreadComponent() override;

    TThreadPriority Priority() const { return m_thread->Priority(); }
    void SetPriority(TThreadPriority value) { m_thread->SetPriority(value); }
    int ReturnValue() const { return m_thread->ReturnValue(); }
    void SetReturnValue(int value) { m_thread->SetReturnValue(value); }
    // While loading: the stored copy. Otherwise the worker's: false lets it run.
    bool Suspended() const;
    void SetSuspended(bool value);
    bool Synchronized() const;
    void SetSynchronized(bool value);

    void SetOnExecute(NotifyEvent handler);
    void SetOnException(ExceptionEvent handler) { m_onException = std::move(handler); }
    // Called on the main thread when a worker has finished, with the component as sender.
    void SetOnTerminate(NotifyEvent handler);

    // Between the two, Suspended and Synchronized are only stored; Loaded hands them to
    // the worker, which starts it when Suspended was stored false.
    void BeginLoading() { m_loading = true; }
    virtual void Loaded();

    // Replaces the worker with a fresh one, carrying Priority, Synchronized and
    // OnTerminate over, and lets it run. The old worker is told to end and never killed,
    // but not waited for either: an OnExecute still running goes on to its end on its
    // own (the component's destructor waits for it). Called from another thread, it runs
    // later on the main thread.
    virtual void Restart();

    // For OnExecute: runs method on the main thread and waits for it. False when the
    // component is stopping and the call was dropped.
    bool Synchronize(const std::function<void()>& method);
    // For OnExecute: runs method(argument) on the main thread, unless another such call
    // is pending (then nothing happens). Exceptions of method reach the caller.
    void SynchronizeCall(const std::function<void(int)>& method, int argument);

    TkitEventThread* Thread() const { return m_thread.get(); }

protected:
    // For the timer: makes its worker before the base's constructor body runs.
    struct UseTimerThread
    {
    };
    TkitCustomThreadComponent(QObject* owner, UseTimerThread);

    // The worker's event: OnExecute, with any exception handed to HandleException on the
    // main thread.
    virtual void DoExecute();
    // On the main thread: OnException, else an error box naming the component.
    virtual void HandleException(const std::exception_ptr& error);
    virtual std::unique_ptr<TkitEventThread> CreateThread(bool createSuspended);
    // Copies what a new worker takes over from the old one.
    virtual void CarryOver(TkitEventThread& from, TkitEventThread& to);
    void BindThread(TkitEventThread& thread);
    // Tells the current worker to end and joins it.
    void StopThread();

    std::unique_ptr<TkitEventThread> m_thread;

private:
    bool RunPendingCall(const std::function<void()>& call);
    // The worker whose OnExecute is running on this thread, else the current one.
    KitThread& CallingWorker() const;
    void Retire(std::unique_ptr<TkitEventThread> old);
    // Frees the retired workers that have ended.
    void FreeRetired();

    std::vector<std::unique_ptr<TkitEventThread>> m_retired;

    NotifyEvent m_onExecute; // read by the worker under m_handlerLock
    mutable std::mutex m_handlerLock;
    ExceptionEvent m_onException;
    NotifyEvent m_onTerminate;
    bool m_loading = false;
    bool m_suspendedCopy = true;
    bool m_synchronizedCopy = false;
    std::atomic<bool> m_callPending{false};
};

// The text of the error box for an exception that OnExecute or OnTimer raised.
std::string ThreadExceptionText(const QString& componentName, const std::exception_ptr& error);

class TkitThreadComponent : public TkitCustomThreadComponent
{
    Q_OBJECT
public:
    using TkitCustomThreadComponent::TkitCustomThreadComponent;
};

} // namespace morvane
