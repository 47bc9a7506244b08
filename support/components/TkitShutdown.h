#pragma once

#include "ShutdownBackend.h"
#include "support/TkitComponent.h"

#include <memory>

namespace morvane {

// After asking its owner through OnQueryShutdown, asks the system to power off, restart,
// log the user off, or suspend or hibernate the computer, optionally forced. Main thread.
class TkitShutdown : public TkitComponent
{
    Q_OBJECT

public:
    // ActionType aatPowerOff, Force false; the desktop's login manager as back end.
    explicit TkitShutdown(QObject* owner = nullptr);
    // backend must not be null (std::invalid_argument); the component owns it.
    TkitShutdown(QObject* owner, std::unique_ptr<ShutdownBackend> backend);
    ~TkitShutdown() override;

    TkitShutdownActionType ActionType() const { return m_actionType; }
    void SetActionType(TkitShutdownActionType value) { m_actionType = value; }
    bool Force() const { return m_force; }
    void SetForce(bool value) { m_force = value; }

    // Asks OnQueryShutdown first; true when the system accepted the request. Never throws:
    // a refusal, a missing login manager or an error is a false result, and LastOutcome
    // says which.
    virtual bool Execute();
    ShutdownOutcome LastOutcome() const { return m_lastOutcome; }

signals:
    // A handler that sets canShutdown false stops the request. Connect it directly.
    void OnQueryShutdown(QObject* sender, bool& canShutdown);

protected:
    virtual void DoQueryShutdown(bool& canShutdown);

private:
    std::unique_ptr<ShutdownBackend> m_backend;
    TkitShutdownActionType m_actionType = aatPowerOff;
    bool m_force = false;
    ShutdownOutcome m_lastOutcome = ShutdownOutcome::Failed;
};

} // namespace morvane
