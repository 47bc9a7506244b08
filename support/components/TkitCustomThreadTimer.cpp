#include "TkitCustomThreadTimer.h"

namespace morvane {

TkitCustomThreadTimer::TkitCustomThreadTimer(QObject* owner)
    : TkitCustomThreadComponent(owner, UseTimerThread{})
{
}

TkitCustomThreadTimer::~TkitCustomThreadTimer()
{
    SetEnabled(false);
    StopThread();
}

std::unique_ptr<TkitEventThread> TkitCustomThreadTimer::CreateThread(bool createSuspended)
{
    // A restarted timer must stay a timer.
    return std::make_unique<TkitTimerThread>(createSuspended);
}

void TkitCustomThreadTimer::CarryOver(TkitEventThread& from, TkitEventThread& to)
{
    TkitCustomThreadComponent::CarryOver(from, to);
    static_cast<TkitTimerThread&>(to).SetInterval(static_cast<TkitTimerThread&>(from).Interval());
}

} // namespace morvane
