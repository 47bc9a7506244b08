#include "TkitCustomWndProcHook.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace morvane {

namespace {
TkitWndProcHookList* g_list = nullptr;
} // namespace

TkitCustomWndProcHook::TkitCustomWndProcHook(QObject* owner) : TkitComponent(owner)
{
    TkitWndProcHookList::Add(this);
}

TkitCustomWndProcHook::~TkitCustomWndProcHook()
{
    QObject::disconnect(m_controlGone);
    m_loading = false;
    SetActive(false);
    TkitWndProcHookList::Remove(this);
}

QWidget* TkitCustomWndProcHook::GetWinControl() const
{
    if (m_winControl)
        return m_winControl;
    return qobject_cast<QWidget*>(parent());
}

QObject* TkitCustomWndProcHook::GetHandle() const
{
    if (m_handle)
        return m_handle;
    return GetWinControl();
}

void TkitCustomWndProcHook::SetActive(bool value)
{
    if (value == m_active)
        return;
    if (value)
        Hook();
    else
        Unhook();
}

void TkitCustomWndProcHook::Hook()
{
    if (!m_loading)
        if (TkitWndProcHookList* list = TkitWndProcHookList::Instance())
            list->Install(this, GetHandle());
    m_active = true;
}

void TkitCustomWndProcHook::Unhook()
{
    if (!m_loading)
        if (TkitWndProcHookList* list = TkitWndProcHookList::Instance())
            list->Uninstall(this);
    m_active = false;
}

void TkitCustomWndProcHook::Loaded()
{
    m_loading = false;
    if (m_active)
        Hook();
}

void TkitCustomWndProcHook::SetHandle(QObject* value)
{
    if (value == m_handle)
        return;
    const bool wasActive = m_active;
    SetActive(false);
    m_handle = value;
    SetActive(wasActive);
    if (m_onChangeHandle)
        m_onChangeHandle(this);
}

void TkitCustomWndProcHook::SetWinControl(QWidget* value)
{
    if (value == m_winControl)
        return;
    const bool wasActive = m_active;
    SetActive(false);
    QObject::disconnect(m_controlGone);
    m_winControl = value;
    // A control destroyed while hooked is dropped.
    if (value && value != parent())
        m_controlGone = connect(value, &QObject::destroyed, this, [this] { SetWinControl(nullptr); });
    SetActive(wasActive);
    if (m_onChangeWinControl)
        m_onChangeWinControl(this);
}

bool TkitCustomWndProcHook::WndProc(QEvent* event, const std::function<bool()>& passOn)
{
    QObject* target = GetHandle();
    if (!target)
        return passOn();
    QPointer<TkitCustomWndProcHook> self(this);
    bool handled = false;
    // Copies: a handler may destroy this hook, and with it the stored handler.
    const MessageEvent before = m_onMessageBefore;
    const MessageEvent after = m_onMessageAfter;
    if (before)
        before(this, event, handled);
    bool consumed = true;
    if (!handled) {
        auto* widget = qobject_cast<QWidget*>(target);
        if (self && m_autoDrag && widget && event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            // The window follows the mouse; the press itself goes no further.
            if (QWindow* window = widget->window()->windowHandle())
                window->startSystemMove();
        } else {
            consumed = passOn();
        }
    } else {
        consumed = true;
    }
    // The before-handler or the object may have destroyed this hook.
    if (self && after)
        after(this, event, handled);
    return consumed;
}

TkitWndProcHookList* TkitWndProcHookList::Instance()
{
    return g_list;
}

TkitWndProcHookList* TkitWndProcHookList::Acquire()
{
    if (!g_list)
        g_list = new TkitWndProcHookList;
    return g_list;
}

void TkitWndProcHookList::Add(TkitCustomWndProcHook* hook)
{
    Acquire()->m_hooks.append(hook);
}

void TkitWndProcHookList::Remove(TkitCustomWndProcHook* hook)
{
    if (!g_list)
        return;
    g_list->m_hooks.removeAll(hook);
    if (g_list->m_hooks.isEmpty()) {
        // Later, not now: the last hook may go from inside a chain that this object runs.
        g_list->deleteLater();
        g_list = nullptr;
    }
}

QList<TkitCustomWndProcHook*> TkitWndProcHookList::ActiveOn(const QObject* target) const
{
    QList<TkitCustomWndProcHook*> result;
    if (!target)
        return result;
    for (TkitCustomWndProcHook* hook : m_hooks)
        if (hook->m_active && hook->m_hooked == target)
            result.append(hook);
    return result;
}

void TkitWndProcHookList::Install(TkitCustomWndProcHook* hook, QObject* target)
{
    hook->m_hooked = target;
    if (!target)
        return;
    // One filter per object, however many hooks: the chain order is kept here, not by
    // the order in which filters were installed.
    if (ActiveOn(target).isEmpty())
        target->installEventFilter(this);
}

void TkitWndProcHookList::Uninstall(TkitCustomWndProcHook* hook)
{
    QPointer<QObject> target = hook->m_hooked;
    hook->m_hooked = nullptr;
    if (target && ActiveOn(target).isEmpty())
        target->removeEventFilter(this);
}

bool TkitWndProcHookList::eventFilter(QObject* watched, QEvent* event)
{
    const QList<TkitCustomWndProcHook*> active = ActiveOn(watched);
    if (active.isEmpty())
        return false;
    QList<QPointer<TkitCustomWndProcHook>> chain;
    for (TkitCustomWndProcHook* hook : active)
        chain.append(hook);
    return RunChain(chain, chain.size() - 1, watched, event);
}

bool TkitWndProcHookList::RunChain(const QList<QPointer<TkitCustomWndProcHook>>& chain, qsizetype index,
                                   QObject* target, QEvent* event)
{
    // Skip links that were switched off or destroyed since the event arrived.
    while (index >= 0 && (!chain[index] || !chain[index]->m_active || chain[index]->m_hooked != target))
        --index;
    if (index < 0) {
        // The object's own handling, inside the chain, so the after-handlers follow it.
        target->event(event);
        return true;
    }
    QPointer<QObject> guard(target);
    return chain[index]->WndProc(event,
                                 [&] { return guard ? RunChain(chain, index - 1, guard, event) : true; });
}

} // namespace morvane
