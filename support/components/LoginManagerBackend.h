#pragma once

#include "ShutdownBackend.h"

#include <QDBusConnection>

namespace morvane {

// Shuts down through the desktop's login manager over D-Bus: power off, restart, suspend
// and hibernate by the system bus's login manager (which asks the user for rights where
// its policy wants it); log off by the session manager of the desktop on the session bus,
// or, forced, by ending the login session. Power off and shut down are the same request
// here. Main thread.
class LoginManagerBackend : public ShutdownBackend
{
public:
    LoginManagerBackend();
    // For tests and other buses.
    LoginManagerBackend(QDBusConnection systemBus, QDBusConnection sessionBus);

    ShutdownOutcome Request(TkitShutdownActionType action, bool force) override;

private:
    QDBusConnection m_system;
    QDBusConnection m_session;
};

} // namespace morvane
