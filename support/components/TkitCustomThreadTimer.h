#pragma once

#include "TkitCustomThreadComponent.h"

namespace morvane {

// Runs OnTimer on a worker every Interval milliseconds while Enabled. Changing Interval
// starts a fresh wait at once, never an early OnTimer; 0 means no ticks. Enabled :=
// false pauses the worker at its next wait. Destroying the timer never waits out the
// interval. Main thread, as its base.
class TkitCustomThreadTimer : public TkitCustomThreadComponent
{
    Q_OBJECT

public:
    explicit TkitCustomThreadTimer(QObject* owner = nullptr);
    ~TkitCustomThreadTimer() override;

    unsigned Interval() const { return Timer().Interval(); }
    void SetInterval(unsigned value) { Timer().SetInterval(value); }
    bool Enabled() const { return !Suspended(); }
    void SetEnabled(bool value) { SetSuspended(!value); }
    void SetOnTimer(NotifyEvent handler) { SetOnExecute(std::move(handler)); }

protected:
    std::unique_ptr<TkitEventThread> CreateThread(bool createSuspended) override;
    void CarryOver(TkitEventThread& from, TkitEventThread& to) override;

private:
    TkitTimerThread& Timer() const { return static_cast<TkitTimerThread&>(*m_thread); }
};

class TkitThreadTimer : public TkitCustomThreadTimer
{
    Q_OBJECT
public:
    using TkitCustomThreadTimer::TkitCustomThreadTimer;
};

} // namespace morvane
