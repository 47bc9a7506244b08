#include "TkitShutdown.h"

#include "LoginManagerBackend.h"

#include <stdexcept>

namespace morvane {

TkitShutdown::TkitShutdown(QObject* owner) : TkitShutdown(owner, std::make_unique<LoginManagerBackend>()) {}

TkitShutdown::TkitShutdown(QObject* owner, std::unique_ptr<ShutdownBackend> backend)
    : TkitComponent(owner), m_backend(std::move(backend))
{
    if (!m_backend)
        throw std::invalid_argument("TkitShutdown needs a back end");
}

TkitShutdown::~TkitShutdown() = default;

void TkitShutdown::DoQueryShutdown(bool& canShutdown)
{
    emit OnQueryShutdown(this, canShutdown);
}

bool TkitShutdown::Execute()
{
    try {
        bool canShutdown = true;
        DoQueryShutdown(canShutdown);
        if (!canShutdown) {
            m_lastOutcome = ShutdownOutcome::Vetoed;
            return false;
        }
        m_lastOutcome = m_backend->Request(m_actionType, m_force);
    } catch (const std::exception& e) {
        // A failing handler is reported, never taken for consent.
        HandleException(this, e.what());
        m_lastOutcome = ShutdownOutcome::Failed;
    }
    return m_lastOutcome == ShutdownOutcome::Accepted;
}

} // namespace morvane
