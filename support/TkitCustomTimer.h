#pragma once

#include "TkitComponent.h"

#include <functional>
#include <stdexcept>

namespace morvane {

// Raised when the system gives no timer: "Not enough timers available".
class OutOfResourcesError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Base for components that need a periodic timer of their own. The timer is armed
// exactly while Interval is not 0, Enabled is true and OnTimer is assigned, from the last
// setter call on; each tick calls DoTimer. The component's own QObject stands in for a
// hidden window: it receives the timer and, in descendants, other notifications.
// Descendants publish the accessors under their own names. Main thread only.
class TkitCustomTimer : public TkitComponent
{
    Q_OBJECT

public:
    using NotifyEvent = std::function<void(QObject* sender)>;

    // Enabled true, Interval 1000, no handler; the timer is not started here.
    explicit TkitCustomTimer(QObject* owner = nullptr);
    // Kills the timer.
    ~TkitCustomTimer() override;

protected:
    unsigned Interval() const { return m_interval; }
    bool Enabled() const { return m_enabled; }
    const NotifyEvent& OnTimer() const { return m_onTimer; }
    bool TimerArmed() const { return m_timerId != 0; }

    // The setters re-arm the timer. SetEnabled and SetInterval act only when the value
    // changes; SetOnTimer always does, which restarts the period. They throw
    // OutOfResourcesError when no timer can be had; the stored values stay.
    void SetEnabled(bool value);
    void SetInterval(unsigned value);
    void SetOnTimer(NotifyEvent handler);

    void UpdateTimer();
    // One tick: calls OnTimer when assigned.
    virtual void DoTimer();

    void timerEvent(QTimerEvent* event) override;

private:
    void KillTimer();

    unsigned m_interval = 1000;
    NotifyEvent m_onTimer;
    bool m_enabled = true;
    int m_timerId = 0;
};

} // namespace morvane
