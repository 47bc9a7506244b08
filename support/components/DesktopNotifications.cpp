#include "DesktopNotifications.h"

#include "platform/Paths.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

namespace morvane {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// Reasons a notification closed, as the service reports them.
constexpr uint kClosedExpired = 1;

} // namespace

QString NotificationIconName()
{
    const QString name = QStringLiteral(MORVANE_APP_ID);
    const QString icon = "icons/hicolor/256x256/apps/" + name + ".png";
    if (!QStandardPaths::locate(QStandardPaths::GenericDataLocation, icon).isEmpty())
        return name;
    // The share folder's neighbour: <prefix>/share/icons in an install, <build>/icons in
    // a build tree.
    const QFileInfo own(QString::fromStdString(ShareDir()) + "../" + icon);
    return own.exists() ? QUrl::fromLocalFile(own.canonicalFilePath()).toString() : name;
}

DesktopNotifications::DesktopNotifications(QString appName, QString iconName, QDBusConnection bus,
                                           QObject* parent)
    : QObject(parent), m_appName(std::move(appName)), m_iconName(std::move(iconName)), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // The bus delivers signals by name only.
    m_bus.connect({}, kPath, kInterface, "NotificationClosed", this, SLOT(OnClosed(uint, uint)));
    m_bus.connect({}, kPath, kInterface, "ActionInvoked", this, SLOT(OnAction(uint, QString)));
}

bool DesktopNotifications::Available() const
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    QDBusConnectionInterface* bus = m_bus.interface();
    if (bus->isServiceRegistered(kService))
        return true;
    const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kService);
}

bool DesktopNotifications::Show(const QString& title, const QString& text, TkitTrayIconInfoType type,
                                int timeoutMs)
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    QVariantMap hints;
    // Services that understand markup would take "<" in a file name for a tag.
    const QString body = text.toHtmlEscaped();
    hints.insert("urgency", QVariant::fromValue(static_cast<uchar>(type == tiiError ? 2 : 1)));
    hints.insert("desktop-entry", QString(MORVANE_APP_ID));
    call << m_appName << m_lastId << m_iconName << title << body << QStringList{"default", ""} << hints
         << static_cast<int>(timeoutMs > 0 ? timeoutMs : -1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid())
            m_lastId = reply.value();
        w->deleteLater();
    });
    return true;
}

void DesktopNotifications::OnClosed(uint id, uint reason)
{
    if (id == m_lastId && id != 0 && reason == kClosedExpired)
        emit Expired();
}

void DesktopNotifications::OnAction(uint id, const QString& action)
{
    if (id == m_lastId && id != 0 && action == "default")
        emit Clicked();
}

} // namespace morvane
