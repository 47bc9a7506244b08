#include "LoginManagerBackend.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

namespace morvane {

namespace {

constexpr const char* kLogin1Service = "org.freedesktop.login1";
constexpr const char* kLogin1Path = "/org/freedesktop/login1";
constexpr const char* kLogin1Manager = "org.freedesktop.login1.Manager";
constexpr int kTimeoutMs = 25000;

// The login manager's flag that makes even the administrator's request wait for programs
// that hold the action off.
constexpr quint64 kCheckInhibitorsFlag = 1;

bool NoService(const QString& name)
{
    return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == "org.freedesktop.DBus.Error.NoServer" ||
           name == "org.freedesktop.DBus.Error.Disconnected" ||
           name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           name == "org.freedesktop.DBus.Error.UnknownObject" ||
           name == "org.freedesktop.DBus.Error.UnknownMethod" ||
           name == "org.freedesktop.DBus.Error.UnknownInterface";
}

ShutdownOutcome FromReply(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return ShutdownOutcome::Accepted;
    const QString name = reply.errorName();
    if (NoService(name))
        return ShutdownOutcome::NoLoginManager;
    if (name == "org.freedesktop.DBus.Error.AccessDenied" || name.startsWith("org.freedesktop.login1.") ||
        name.contains("NotAuthorized") || name.contains("InteractiveAuthorizationRequired"))
        return ShutdownOutcome::Denied;
    return ShutdownOutcome::Failed;
}

QDBusMessage Send(QDBusConnection& bus, const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& args)
{
    if (!bus.isConnected())
        return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"), {});
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    // Lets the login manager ask the user for rights instead of refusing at once.
    message.setInteractiveAuthorizationAllowed(true);
    return bus.call(message, QDBus::Block, kTimeoutMs);
}

ShutdownOutcome Call(QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& method, const QVariantList& args)
{
    return FromReply(Send(bus, service, path, interface, method, args));
}

// Whether a program holds a blocking lock of the login manager on what ("shutdown" or
// "sleep"). Unknown when the list cannot be had: the request is then left to decide.
bool HeldOff(QDBusConnection& bus, const QString& what)
{
    const QDBusMessage reply = Send(bus, kLogin1Service, kLogin1Path, kLogin1Manager, "ListInhibitors", {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const auto rows = qdbus_cast<QList<LoginInhibitor>>(reply.arguments().front());
    for (const LoginInhibitor& row : rows)
        if (row.Mode == "block" && row.What.split(':').contains(what))
            return true;
    return false;
}

} // namespace

LoginManagerBackend::LoginManagerBackend()
    : LoginManagerBackend(QDBusConnection::systemBus(), QDBusConnection::sessionBus())
{
}

LoginManagerBackend::LoginManagerBackend(QDBusConnection systemBus, QDBusConnection sessionBus)
    : m_system(std::move(systemBus)), m_session(std::move(sessionBus))
{
    qDBusRegisterMetaType<LoginInhibitor>();
    qDBusRegisterMetaType<QList<LoginInhibitor>>();
}

ShutdownOutcome LoginManagerBackend::Request(TkitShutdownActionType action, bool force)
{
    QString method;
    switch (action) {
    case aatPowerOff:
    case aatShutdown:
        method = "PowerOff";
        break;
    case aatReboot:
        method = "Reboot";
        break;
    case aatSuspend:
        method = "Suspend";
        break;
    case aatHibernate:
        method = "Hibernate";
        break;
    case aatLogOff:
        break;
    }
    if (!method.isEmpty())
        return Power(method, action == aatSuspend || action == aatHibernate ? "sleep" : "shutdown", force);
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

ShutdownOutcome LoginManagerBackend::Power(const QString& method, const QString& what, bool force)
{
    // Unforced, a program that holds the action off wins; forced, the login manager
    // overrides it where its policy lets this user (it may ask for a password). Programs
    // that only delay the action get their short time either way.
    if (!force && HeldOff(m_system, what))
        return ShutdownOutcome::Denied;
    const QDBusMessage reply =
        Send(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, method + "WithFlags",
             {QVariant::fromValue(force ? quint64(0) : kCheckInhibitorsFlag)});
    if (reply.errorName() != "org.freedesktop.DBus.Error.UnknownMethod")
        return FromReply(reply);
    // An older login manager without the flags: the plain call, which overrides holds
    // only where the policy allows.
    return Call(m_system, kLogin1Service, kLogin1Path, kLogin1Manager, method, {true});
}

QDBusArgument& operator<<(QDBusArgument& out, const LoginInhibitor& row)
{
    out.beginStructure();
    out << row.What << row.Who << row.Why << row.Mode << row.Uid << row.Pid;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, LoginInhibitor& row)
{
    in.beginStructure();
    in >> row.What >> row.Who >> row.Why >> row.Mode >> row.Uid >> row.Pid;
    in.endStructure();
    return in;
}

} // namespace morvane
