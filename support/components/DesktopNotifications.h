#pragma once

#include "support/TrayShell.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace morvane {

// Balloons as notifications of the desktop's notification service
// (org.freedesktop.Notifications on the session bus): how a program reaches its user on a
// desktop without a tray, and how a balloon gets the desktop's own display time. Each
// new notification replaces the previous one of this object, as a tray icon has one
// balloon. Calls never wait for the service. Main thread.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    // appName and iconName are what the desktop shows beside the text (the program's
    // name and its icon's theme name).
    DesktopNotifications(QString appName, QString iconName,
                         QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Whether the bus has a notification service now (running or started on demand).
    bool Available() const;

    // Sends one notification; timeoutMs <= 0 leaves its time to the desktop. False when
    // there is no bus to send it on. Texts are shown as plain text.
    bool Show(const QString& title, const QString& text, TkitTrayIconInfoType type, int timeoutMs);

signals:
    // The last notification's time ran out.
    void Expired();
    // The user clicked the last notification.
    void Clicked();

private slots:
    void OnClosed(uint id, uint reason);
    void OnAction(uint id, const QString& action);

private:
    QString m_appName;
    QString m_iconName;
    QDBusConnection m_bus;
    uint m_lastId = 0;
};

// What a notification names as its icon: the system's icon by its theme name when the
// desktop's icon folders hold it (a system install), else as the address of the copy
// beside the running program (a build tree, or a prefix the desktop does not search).
// Any thread.
QString NotificationIconName();

} // namespace morvane
