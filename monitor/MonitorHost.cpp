#include "monitor/MonitorHost.h"

#include "support/components/MessageBoxes.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

namespace morvane::monitor {

void MonitorHost::ShowMainWindow()
{
    if (m_window)
        m_window->show();
}

void MonitorHost::BringMainWindowToFront()
{
    if (m_window) {
        m_window->raise();
        m_window->activateWindow();
    }
}

void MonitorHost::HideMainWindow()
{
    if (m_window)
        m_window->hide();
}

void MonitorHost::ShowBalloon()
{
    if (m_sink)
        m_sink(m_title, m_text);
}

BoxAnswer MonitorHost::ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons)
{
    return MessageBoxes::Show(kind, text, buttons, BoxAnswer::Yes, m_window);
}

void MonitorHost::PostToMainThread(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool MonitorHost::IsMainThread() const
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace morvane::monitor
