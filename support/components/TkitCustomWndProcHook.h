#pragma once

#include "support/TkitComponent.h"

#include <QList>
#include <QPointer>
#include <functional>

class QEvent;
class QWidget;

namespace morvane {

class TkitWndProcHookList;

// Sees the events of one of our own objects (a widget, or any QObject given as Handle)
// before and after the object itself, and can answer them or let the user drag the
// window by pressing the left button anywhere on it (AutoDrag). Several hooks may watch
// one object: an event passes the active hooks in reverse order of construction, then
// reaches the object, whatever order they were activated in; switching any of them off
// leaves the others chained. A hook may switch itself off or be destroyed inside its own
// handler. When no object can be determined, Active is only recorded. Main thread only.
class TkitCustomWndProcHook : public TkitComponent
{
    Q_OBJECT

public:
    using NotifyEvent = std::function<void(QObject* sender)>;
    // event is the message; handled set by the before-handler keeps it from the object
    // (and the hooks further down), and the after-handler sees what it was left at.
    using MessageEvent = std::function<void(QObject* sender, QEvent* event, bool& handled)>;

    explicit TkitCustomWndProcHook(QObject* owner = nullptr);
    ~TkitCustomWndProcHook() override;

    bool Active() const { return m_active; }
    virtual void SetActive(bool value);
    bool AutoDrag() const { return m_autoDrag; }
    void SetAutoDrag(bool value) { m_autoDrag = value; }

    // The object chosen explicitly; when none, the control is used.
    QObject* Handle() const { return m_handle; }
    virtual void SetHandle(QObject* value);
    // WinControl when set, else the owner when it is a widget, else none.
    QWidget* GetWinControl() const;
    virtual void SetWinControl(QWidget* value);
    // Handle when set, else GetWinControl(); none when neither gives an object.
    QObject* GetHandle() const;

    void SetOnMessageBefore(MessageEvent handler) { m_onMessageBefore = std::move(handler); }
    void SetOnMessageAfter(MessageEvent handler) { m_onMessageAfter = std::move(handler); }
    void SetOnChangeHandle(NotifyEvent handler) { m_onChangeHandle = std::move(handler); }
    void SetOnChangeWinControl(NotifyEvent handler) { m_onChangeWinControl = std::move(handler); }

    void BeginLoading() { m_loading = true; }
    void Loaded();

    // One link of the chain: the handlers around passOn, which hands the event to the
    // next hook down or to the object. Returns whether the event was consumed.
    virtual bool WndProc(QEvent* event, const std::function<bool()>& passOn);

protected:
    virtual void Hook();
    virtual void Unhook();

private:
    friend class TkitWndProcHookList;

    bool m_active = false;
    bool m_autoDrag = false;
    bool m_loading = false;
    // The object this hook is installed on while active; none while inactive or when
    // no object could be determined.
    QPointer<QObject> m_hooked;
    QPointer<QObject> m_handle;
    QPointer<QWidget> m_winControl;
    QMetaObject::Connection m_controlGone;
    MessageEvent m_onMessageBefore;
    MessageEvent m_onMessageAfter;
    NotifyEvent m_onChangeHandle;
    NotifyEvent m_onChangeWinControl;
};

// Every hook of the process, in the order they were constructed; the one event filter
// that runs their chains. Made by the first hook and dropped with the last. Main thread.
class TkitWndProcHookList : public QObject
{
    Q_OBJECT

public:
    static TkitWndProcHookList* Instance(); // none while no hook exists
    const QList<TkitCustomWndProcHook*>& Hooks() const { return m_hooks; }
    // The active hooks on target, in list order.
    QList<TkitCustomWndProcHook*> ActiveOn(const QObject* target) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TkitCustomWndProcHook;
    static TkitWndProcHookList* Acquire();
    static void Add(TkitCustomWndProcHook* hook);
    static void Remove(TkitCustomWndProcHook* hook);
    void Install(TkitCustomWndProcHook* hook, QObject* target);
    void Uninstall(TkitCustomWndProcHook* hook);
    bool RunChain(const QList<QPointer<TkitCustomWndProcHook>>& chain, qsizetype index, QObject* target,
                  QEvent* event);

    QList<TkitCustomWndProcHook*> m_hooks;
};

class TkitWndProcHook : public TkitCustomWndProcHook
{
    Q_OBJECT
public:
    using TkitCustomWndProcHook::TkitCustomWndProcHook;
};

} // namespace morvane
