#include "QtTrayShell.h"

#include "AppWindows.h"
#include "support/TkitComponent.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace morvane {

namespace {

QSystemTrayIcon::MessageIcon MessageIconFor(TkitTrayIconInfoType type)
{
    switch (type) {
    case tiiInfo:
        return QSystemTrayIcon::Information;
    case tiiWarning:
        return QSystemTrayIcon::Warning;
    case tiiError:
        return QSystemTrayIcon::Critical;
    case tiiNone:
        break;
    }
    return QSystemTrayIcon::NoIcon;
}

} // namespace

QtTrayShell::QtTrayShell(QDBusConnection bus)
    : m_notifications(QGuiApplication::applicationDisplayName(), NotificationIconName(), bus)
{
    connect(&m_notifications, &DesktopNotifications::Expired, this,
            [this] { Notify(TrayNotification::BalloonTimeout); });
    connect(&m_notifications, &DesktopNotifications::Clicked, this,
            [this] { Notify(TrayNotification::BalloonUserClick); });
    m_balloonTimer.setSingleShot(true);
    connect(&m_balloonTimer, &QTimer::timeout, this, [this] { Notify(TrayNotification::BalloonTimeout); });
    WatchForTray(bus);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        MakeTray();
}

void QtTrayShell::WatchForTray(const QDBusConnection& bus)
{
    // Trays of the desktop's D-Bus kind come back as a new owner of the watcher's name.
    auto* watcher = new QDBusServiceWatcher("org.kde.StatusNotifierWatcher", bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &QtTrayShell::TrayChanged);
    // The watcher may come before the panel that shows its items (the toolkit uses the
    // D-Bus kind only once such a panel is there): the panel's arrival is a tray too.
    QDBusConnection(bus).connect("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                 "org.kde.StatusNotifierWatcher", "StatusNotifierHostRegistered", this,
                                 SLOT(TrayChanged()));
    // Trays of the X11 kind: the platform reports a new tray window. Its interface has no
    // public header, so the signal is looked up by name; the interface is a QObject and
    // derives from nothing else, so its address is the QObject's.
    auto* native = static_cast<QObject*>(static_cast<void*>(QGuiApplication::platformNativeInterface()));
    if (!native)
        return;
    const int signal = native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)");
    const int slot = metaObject()->indexOfSlot("TrayChanged()");
    if (signal >= 0 && slot >= 0)
        connect(native, native->metaObject()->method(signal), this, metaObject()->method(slot));
}

void QtTrayShell::TrayChanged()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_tray)
        MakeTray();
    // Left to the next turn of the event loop, after the toolkit has docked its own icons.
    QTimer::singleShot(0, this, [this] { Notify(TrayNotification::TaskbarCreated); });
}

void QtTrayShell::MakeTray()
{
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_menu);
    // The desktop reports whole clicks; each becomes the button's down and up.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    Notify(TrayNotification::LeftButtonDown);
                    Notify(TrayNotification::LeftButtonUp);
                    break;
                case QSystemTrayIcon::DoubleClick:
                    Notify(TrayNotification::LeftButtonDoubleClick);
                    break;
                case QSystemTrayIcon::Context:
                    m_desktopShowsMenu = m_menu != nullptr;
                    Notify(TrayNotification::RightButtonDown);
                    Notify(TrayNotification::RightButtonUp);
                    m_desktopShowsMenu = false;
                    break;
                case QSystemTrayIcon::MiddleClick:
                    Notify(TrayNotification::MiddleButtonDown);
                    Notify(TrayNotification::MiddleButtonUp);
                    break;
                case QSystemTrayIcon::Unknown:
                    break;
                }
            });
    connect(m_tray.get(), &QSystemTrayIcon::messageClicked, this, [this] {
        m_balloonTimer.stop();
        Notify(TrayNotification::BalloonUserClick);
    });
}

QtTrayShell::~QtTrayShell()
{
    UnhookApplication();
}

void QtTrayShell::Notify(TrayNotification n)
{
    if (!m_sink)
        return;
    // Handlers run from the desktop's signals: nothing may escape into the event loop.
    try {
        m_sink(n);
    } catch (const std::exception& e) {
        TkitComponent::HandleException(this, e.what());
    } catch (...) {
        TkitComponent::HandleException(this, "Unknown error in tray icon handler");
    }
}

void QtTrayShell::SetNotificationSink(std::function<void(TrayNotification)> sink)
{
    m_sink = std::move(sink);
}

void QtTrayShell::Apply(const TrayIconData& data)
{
    if (data.flags & kNifIcon)
        m_tray->setIcon(data.icon);
    if (data.flags & kNifTip)
        m_tray->setToolTip(data.tip);
    // An icon without an image cannot be shown; it appears once it gets one.
    if (m_wanted && !m_tray->isVisible() && !m_tray->icon().isNull())
        m_tray->show();
}

void QtTrayShell::AddIcon(const TrayIconData& data)
{
    if (!m_tray)
        return;
    m_wanted = true;
    Apply(data);
}

void QtTrayShell::ModifyIcon(const TrayIconData& data)
{
    if (!m_tray)
        return;
    Apply(data);
}

void QtTrayShell::DeleteIcon(const TrayIconData&)
{
    if (!m_tray)
        return;
    m_wanted = false;
    m_balloonTimer.stop();
    m_tray->hide();
}

void QtTrayShell::ShowBalloon(const TrayIconData&, const TrayBalloon& balloon)
{
    const bool iconShown = m_tray && m_tray->isVisible();
    // The desktop's notification service gives a balloon the desktop's own time, and is
    // the only way to the user on a desktop without a tray. A balloon of a set time, or
    // one on a desktop without the service, is the tray's own.
    if ((balloon.timeoutMs <= 0 || !iconShown) && m_notifications.Available()) {
        m_balloonTimer.stop();
        if (!m_notifications.Show(balloon.title, balloon.text, balloon.type, balloon.timeoutMs))
            return;
    } else {
        if (!iconShown)
            return;
        const int timeoutMs = balloon.timeoutMs > 0 ? balloon.timeoutMs : kOwnBalloonTime;
        m_tray->showMessage(balloon.title, balloon.text, MessageIconFor(balloon.type), timeoutMs);
        m_balloonTimer.start(timeoutMs);
    }
    // Reported after the caller has returned, so a handler may show the next balloon.
    QTimer::singleShot(0, this, [this] { Notify(TrayNotification::BalloonShow); });
}

QPoint QtTrayShell::CursorPos()
{
    return QCursor::pos();
}

void QtTrayShell::ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

bool QtTrayShell::MenuAutoPopup(QObject* menu)
{
    return qobject_cast<QMenu*>(menu) != nullptr;
}

bool QtTrayShell::ClickDefaultItem(QObject* menu)
{
    auto* m = qobject_cast<QMenu*>(menu);
    if (!m)
        return false;
    QAction* item = m->defaultAction();
    if (!item || !m->actions().contains(item))
        return false;
    item->trigger();
    return true;
}

void QtTrayShell::PopupMenu(QObject* menu, const QPoint& pos)
{
    QPointer<QMenu> m = qobject_cast<QMenu*>(menu);
    // The tray opened its context menu on this click already; a second one would stack.
    if (m && !(m_desktopShowsMenu && m == m_menu))
        m->exec(pos);
}

void QtTrayShell::SetIconMenu(QObject* menu)
{
    m_menu = qobject_cast<QMenu*>(menu);
    if (m_tray)
        m_tray->setContextMenu(m_menu);
}

bool QtTrayShell::IsWindowedControl(QObject* owner)
{
    return qobject_cast<QWidget*>(owner) != nullptr;
}

bool QtTrayShell::IsVisible(QObject* owner)
{
    auto* w = qobject_cast<QWidget*>(owner);
    return w && w->isVisible();
}

void QtTrayShell::MakeVisible(QObject* owner)
{
    if (auto* w = qobject_cast<QWidget*>(owner))
        w->show();
}

void QtTrayShell::BringToFront(QObject* owner)
{
    auto* w = qobject_cast<QWidget*>(owner);
    if (!w || !w->isVisible())
        return;
    QWidget* window = w->window();
    window->raise();
    window->activateWindow();
}

void QtTrayShell::ShowApplication()
{
    morvane::ShowApplication();
}

void QtTrayShell::HideApplication()
{
    morvane::HideApplication();
}

void QtTrayShell::SetShowMainForm(bool show)
{
    SetApplicationShowMainForm(show);
}

void QtTrayShell::HookApplication(std::function<void()> onMinimized)
{
    m_onMinimized = std::move(onMinimized);
    if (qApp)
        qApp->installEventFilter(this);
}

void QtTrayShell::UnhookApplication()
{
    if (qApp)
        qApp->removeEventFilter(this);
    m_onMinimized = {};
}

bool QtTrayShell::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && m_onMinimized && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if (w->isWindow() && (w->windowState() & Qt::WindowMinimized) &&
            !(change->oldState() & Qt::WindowMinimized)) {
            // Hiding windows from inside their own state change is left to the next turn
            // of the event loop.
            QTimer::singleShot(0, this, [this] {
                if (!m_onMinimized)
                    return;
                try {
                    m_onMinimized();
                } catch (const std::exception& e) {
                    TkitComponent::HandleException(this, e.what());
                }
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace morvane
