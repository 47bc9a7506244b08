#pragma once

#include "ShutdownBackend.h"

#include <QDBusConnection>
#include <QMetaType>
#include <QString>

class QDBusArgument;

namespace morvane {

// One program's lock on an action, as the login manager lists them.
struct LoginInhibitor
{
    QString What; // "shutdown", "sleep", ... joined by ":"
    QString Who;
    QString Why;
    QString Mode; // "block" or "delay"
    uint Uid = 0;
    uint Pid = 0;
};
QDBusArgument& operator<<(QDBusArgument& out, const LoginInhibitor& row);
const QDBusArgument& operator>>(const QDBusArgument& in, LoginInhibitor& row);

// Shuts down through the desktop's login manager over D-Bus: power off, restart, suspend
// and hibernate by the system bus's login manager (which asks the user for rights where
// its policy wants it); log off by the session manager of the desktop on the session bus,
// or, forced, by ending the login session. Power off and shut down are the same request
// here. Unforced, a program holding the action off (a blocking lock) stops it (Denied);
// forced, the login manager is asked to override such locks, which it does where its
// policy lets this user. Main thread.
class LoginManagerBackend : public ShutdownBackend
{
public:
    LoginManagerBackend();
    // For tests and other buses.
    LoginManagerBackend(QDBusConnection systemBus, QDBusConnection sessionBus);

    ShutdownOutcome Request(TkitShutdownActionType action, bool force) override;

private:
    ShutdownOutcome Power(const QString& method, const QString& what, bool force);

    QDBusConnection m_system;
    QDBusConnection m_session;
};

} // namespace morvane

Q_DECLARE_METATYPE(morvane::LoginInhibitor)
