#pragma once

#include "support/TrayShell.h"
#include "support/components/DesktopNotifications.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace morvane {

// The desktop's notification area through QSystemTrayIcon, menus as QMenu, the owner
// as a QWidget and the application through ShowApplication/HideApplication. Balloons are
// QSystemTrayIcon messages; a click on one reports BalloonUserClick, and BalloonTimeout
// follows when the balloon's time runs out unclicked.
//
// When the desktop has no notification area (offscreen, or a desktop without one) the
// icon operations do nothing and balloons go to the desktop's notification service
// when it has one (else nowhere); the rest still works. A balloon whose time is 0 or less
// takes the desktop's own time: the notification service's, else kOwnBalloonTime. When a notification area
// starts later, or restarts (the desktop's panel was restarted), the shell reports TaskbarCreated so that the
// component adds its icon again. The icon's menu is the tray's context menu: a tray of the
// D-Bus kind shows it from the bus, one of the X11 kind pops it up on the right button,
// and PopupMenu leaves such a click to them. Main thread.
class QtTrayShell : public QObject, public TrayShell
{
    Q_OBJECT

public:
    // bus: where the desktop's tray watcher and notification service are looked for.
    explicit QtTrayShell(QDBusConnection bus = QDBusConnection::sessionBus());
    ~QtTrayShell() override;

    static constexpr int kOwnBalloonTime = 10000;

    // Whether a notification area was found when the shell was made.
    bool TrayAvailable() const { return m_tray != nullptr; }

    void SetNotificationSink(std::function<void(TrayNotification)> sink) override;
    void AddIcon(const TrayIconData& data) override;
    void ModifyIcon(const TrayIconData& data) override;
    void DeleteIcon(const TrayIconData& data) override;
    void ShowBalloon(const TrayIconData& data, const TrayBalloon& balloon) override;
    QPoint CursorPos() override;
    void ProcessPendingEvents() override;
    bool MenuAutoPopup(QObject* menu) override;
    bool ClickDefaultItem(QObject* menu) override;
    void PopupMenu(QObject* menu, const QPoint& pos) override;
    void SetIconMenu(QObject* menu) override;
    bool IsWindowedControl(QObject* owner) override;
    bool IsVisible(QObject* owner) override;
    void MakeVisible(QObject* owner) override;
    void BringToFront(QObject* owner) override;
    void ShowApplication() override;
    void HideApplication() override;
    void SetShowMainForm(bool show) override;
    void HookApplication(std::function<void()> onMinimized) override;
    void UnhookApplication() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // A notification area may have come (back).
    void TrayChanged();

private:
    void MakeTray();
    void WatchForTray(const QDBusConnection& bus);

    void Notify(TrayNotification n);
    void Apply(const TrayIconData& data);

    std::unique_ptr<QSystemTrayIcon> m_tray;
    QPointer<QMenu> m_menu;
    // While the desktop's own right click is reported: the desktop shows m_menu itself.
    bool m_desktopShowsMenu = false;
    std::function<void(TrayNotification)> m_sink;
    std::function<void()> m_onMinimized;
    DesktopNotifications m_notifications;
    QTimer m_balloonTimer;
    bool m_wanted = false;
};

} // namespace morvane
