#pragma once

namespace morvane {

// What the shutdown component may ask of the system.
enum TkitShutdownActionType
{
    aatPowerOff,
    aatShutdown,
    aatReboot,
    aatLogOff,
    aatSuspend,
    aatHibernate
};

enum class ShutdownOutcome
{
    Accepted,       // the system took the request
    Vetoed,         // the component's owner said no; nothing was asked of the system
    NoLoginManager, // nobody on the desktop takes such requests
    Denied,         // the system refused (rights, an inhibitor, the user cancelled)
    Failed,         // anything else
};

// The part of the system that logs off, powers off, restarts and suspends. Main thread.
class ShutdownBackend
{
public:
    virtual ~ShutdownBackend() = default;
    // Never throws; the outcome says what happened.
    virtual ShutdownOutcome Request(TkitShutdownActionType action, bool force) = 0;
};

} // namespace morvane
