#include "TkitCustomTimer.h"

#include <QTimerEvent>
#include <climits>

namespace morvane {

TkitCustomTimer::TkitCustomTimer(QObject* owner) : TkitComponent(owner) {}

TkitCustomTimer::~TkitCustomTimer()
{
    m_enabled = false;
    KillTimer();
}

void TkitCustomTimer::SetEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    UpdateTimer();
}

void TkitCustomTimer::SetInterval(unsigned value)
{
    if (value == m_interval)
        return;
    m_interval = value;
    UpdateTimer();
}

void TkitCustomTimer::SetOnTimer(NotifyEvent handler)
{
    m_onTimer = std::move(handler);
    UpdateTimer();
}

void TkitCustomTimer::KillTimer()
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void TkitCustomTimer::UpdateTimer()
{
    KillTimer();
    if (m_interval == 0 || !m_enabled || !m_onTimer)
        return;
    const int ms = m_interval > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(m_interval);
    m_timerId = startTimer(ms);
    if (m_timerId == 0)
        throw OutOfResourcesError("Not enough timers available");
}

void TkitCustomTimer::DoTimer()
{
    if (m_onTimer)
        m_onTimer(this);
}

void TkitCustomTimer::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timerId) {
        TkitComponent::timerEvent(event);
        return;
    }
    // A failing handler must not stop the timer or leave the event loop.
    try {
        DoTimer();
    } catch (const std::exception& e) {
        HandleException(this, e.what());
    } catch (...) {
        HandleException(this, "Unknown error in timer handler");
    }
}

} // namespace morvane
