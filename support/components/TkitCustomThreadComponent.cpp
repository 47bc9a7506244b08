#include "TkitCustomThreadComponent.h"

#include "MessageBoxes.h"

#include <QPointer>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace morvane {

namespace {

std::string ClassName(const std::type_info& type)
{
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string result = status == 0 && name ? name : type.name();
    std::free(name);
    return result;
}

// The worker whose event runs on this thread: its own reports go through it, never
// through a worker that replaced it meanwhile.
thread_local KitThread* t_worker = nullptr;

struct WorkerScope
{
    explicit WorkerScope(KitThread* worker) : m_previous(t_worker) { t_worker = worker; }
    ~WorkerScope() { t_worker = m_previous; }
    KitThread* m_previous;
};

} // namespace

std::string ThreadExceptionText(const QString& componentName, const std::exception_ptr& error)
{
    std::string className = "unknown";
    std::string message;
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        className = ClassName(typeid(e));
        message = e.what();
    } catch (...) {
    }
    return "Thread " + componentName.toStdString() + " raised exception class " + className +
           " with message \"" + message + "\".";
}

TkitCustomThreadComponent::TkitCustomThreadComponent(QObject* owner) : TkitComponent(owner)
{
    m_thread = CreateThread(true);
    BindThread(*m_thread);
}

TkitCustomThreadComponent::TkitCustomThreadComponent(QObject* owner, UseTimerThread) : TkitComponent(owner)
{
    m_thread = std::make_unique<TkitTimerThread>(true);
    BindThread(*m_thread);
}

TkitCustomThreadComponent::~TkitCustomThreadComponent()
{
    StopThread();
    // Workers that Restart let go may still run OnExecute with this component: they are
    // waited for here, as the current one is.
    for (auto& old : m_retired)
        old->Stop(true);
}

void TkitCustomThreadComponent::StopThread()
{
    if (!m_thread)
        return;
    m_thread->SetOnEvent({});
    m_thread->Stop(true);
}

std::unique_ptr<TkitEventThread> TkitCustomThreadComponent::CreateThread(bool createSuspended)
{
    return std::make_unique<TkitEventThread>(createSuspended);
}

void TkitCustomThreadComponent::BindThread(TkitEventThread& thread)
{
    // The worker reaches the component only through its event, and the component joins
    // the worker before it goes, so the pointer never outlives it.
    thread.SetOnEvent([this](TkitEventThread* sender) {
        const WorkerScope scope(sender);
        DoExecute();
    });
    QPointer<TkitCustomThreadComponent> self(this);
    thread.SetOnTerminate([self] {
        if (self && self->m_onTerminate)
            self->m_onTerminate(self);
    });
}

bool TkitCustomThreadComponent::Suspended() const
{
    return m_loading ? m_suspendedCopy : m_thread->Suspended();
}

void TkitCustomThreadComponent::SetSuspended(bool value)
{
    m_suspendedCopy = value;
    if (!m_loading)
        m_thread->SetSuspended(value);
}

bool TkitCustomThreadComponent::Synchronized() const
{
    return m_loading ? m_synchronizedCopy : m_thread->Synchronized();
}

void TkitCustomThreadComponent::SetSynchronized(bool value)
{
    m_synchronizedCopy = value;
    if (!m_loading)
        m_thread->SetSynchronized(value);
}

void TkitCustomThreadComponent::SetOnExecute(NotifyEvent handler)
{
    std::lock_guard guard(m_handlerLock);
    m_onExecute = std::move(handler);
}

void TkitCustomThreadComponent::SetOnTerminate(NotifyEvent handler)
{
    m_onTerminate = std::move(handler);
}

void TkitCustomThreadComponent::Loaded()
{
    m_loading = false;
    m_thread->SetSynchronized(m_synchronizedCopy);
    m_thread->SetSuspended(m_suspendedCopy);
}

void TkitCustomThreadComponent::DoExecute()
{
    NotifyEvent handler;
    {
        std::lock_guard guard(m_handlerLock);
        handler = m_onExecute;
    }
    if (!handler)
        return;
    try {
        handler(this);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            RunPendingCall([this, error] { HandleException(error); });
        } catch (...) {
            // A failing report must not end the worker either.
        }
    }
}

void TkitCustomThreadComponent::HandleException(const std::exception_ptr& error)
{
    if (m_onException) {
        m_onException(this, error);
        return;
    }
    MessageBoxes::Show(BoxKind::Error, ThreadExceptionText(objectName(), error), BoxButtons::Ok,
                       BoxAnswer::Ok);
}

bool TkitCustomThreadComponent::Synchronize(const std::function<void()>& method)
{
    // A worker waits through its own object: the one that stopping it cancels. Through a
    // worker that replaced it, the wait would outlive the cancel and block the join.
    return CallingWorker().Synchronize(method);
}

KitThread& TkitCustomThreadComponent::CallingWorker() const
{
    return t_worker ? *t_worker : *m_thread;
}

void TkitCustomThreadComponent::SynchronizeCall(const std::function<void(int)>& method, int argument)
{
    RunPendingCall([method, argument] { method(argument); });
}

bool TkitCustomThreadComponent::RunPendingCall(const std::function<void()>& call)
{
    bool expected = false;
    if (!m_callPending.compare_exchange_strong(expected, true))
        return false; // one report at a time; a second one is dropped
    try {
        const bool ran = CallingWorker().Synchronize(call);
        m_callPending.store(false);
        return ran;
    } catch (...) {
        m_callPending.store(false);
        throw;
    }
}

void TkitCustomThreadComponent::CarryOver(TkitEventThread& from, TkitEventThread& to)
{
    to.SetPriority(from.Priority());
    to.SetSynchronized(from.Synchronized());
}

void TkitCustomThreadComponent::Restart()
{
    if (!OnMainThread()) {
        QPointer<TkitCustomThreadComponent> self(this);
        PostToMainThread([self] {
            if (self)
                self->Restart();
        });
        return;
    }
    std::unique_ptr<TkitEventThread> fresh = CreateThread(true);
    CarryOver(*m_thread, *fresh);
    BindThread(*fresh);
    Retire(std::move(m_thread));
    m_thread = std::move(fresh);
    m_thread->Resume();
}

void TkitCustomThreadComponent::Retire(std::unique_ptr<TkitEventThread> old)
{
    // Told to end but not waited for: an OnExecute that does not return must not hold
    // the main thread. It runs no further event and reports nothing more; once it has
    // ended it is freed on the main thread.
    old->SetOnEvent({});
    QPointer<TkitCustomThreadComponent> self(this);
    old->SetOnTerminate([self] {
        if (self)
            self->FreeRetired();
    });
    old->Terminate();
    old->Resume();
    m_retired.push_back(std::move(old));
    FreeRetired();
}

void TkitCustomThreadComponent::FreeRetired()
{
    std::erase_if(m_retired, [](const std::unique_ptr<TkitEventThread>& old) { return old->Finished(); });
}

} // namespace morvane
