#include "LoginManagerBackend.h"

#include <QDBusMessage>

namespace morvane {

namespace {

constexpr const char* kLogin1Service = "org.freedesktop.login1";
constexpr const char* kLogin1Path = "/org/freedesktop/login1";
constexpr const char* kLogin1Manager = "org.freedesktop.login1.Manager";
constexpr int kTimeoutMs = 25000;

ShutdownOutcome FromError(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NoServer" || name == "org.freedesktop.DBus.Error.Disconnected" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        name == "org.freedesktop.DBus.Error.UnknownObject" ||
        name == "org.freedesktop.DBus.Error.UnknownMethod")
        return ShutdownOutcome::NoLoginManager;
    if (name == "org.freedesktop.DBus.Error.AccessDenied" || name.startsWith("org.freedesktop.login1.") ||
        name.contains("NotAuthorized") || name.contains("InteractiveAuthorizationRequired"))
        return ShutdownOutcome::Denied;
    return ShutdownOutcome::Failed;
}

ShutdownOutcome Call(QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& method, const QVariantList& args)
{
    if (!bus.isConnected())
        return ShutdownOutcome::NoLoginManager;
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    // Lets the login manager ask the user for rights instead of refusing at once.
    message.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return ShutdownOutcome::Accepted;
    return FromError(reply);
}

} // namespace

LoginManagerBackend::LoginManagerBackend()
    : LoginManagerBackend(QDBusConnection::systemBus(), QDBusConnection::sessionBus())
{
}

LoginManagerBackend::LoginManagerBackend(QDBusConnection systemBus, QDBusConnection sessionBus)
    : m_system(std::move(systemBus)), m_session(std::move(sessionBus))
{
}

ShutdownOutcome LoginManagerBackend::Request(TkitShutdownActionType action, bool force)
{
    const QVariantList interactive{true};
    switch (action) {
    case aatPowerOff:
    case aatShutdown:
        return Call(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, "PowerOff", interactive);
    case aatReboot:
        return Call(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, "Reboot", interactive);
    case aatSuspend:
        return Call(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, "Suspend", interactive);
    case aatHibernate:
        return Call(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, "Hibernate", interactive);
    case aatLogOff:
        break;
    }
    // Log off: the desktop's session manager lets programs save their work (mode 1: no
    // confirmation box; 2: forced).
    ShutdownOutcome outcome =
        Call(m_session, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
             "Logout", {QVariant::fromValue(force ? 2u : 1u)});
    if (outcome != ShutdownOutcome::NoLoginManager)
        return outcome;
    outcome = Call(m_session, "org.kde.Shutdown", "/Shutdown", "org.kde.Shutdown", "logout", {});
    if (outcome != ShutdownOutcome::NoLoginManager || !force)
        return outcome;
    // Forced, and no session manager: end the login session itself.
    return Call(m_system, kLogin1Service, "/org/freedesktop/login1/session/auto",
                "org.freedesktop.login1.Session", "Terminate", {});
}

} // namespace morvane
