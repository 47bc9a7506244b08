#include "TkitEventThread.h"

namespace morvane {

TkitEventThread::~TkitEventThread()
{
    SetOnEvent({});
    Stop(true);
}

void TkitEventThread::SetOnEvent(EventHandler handler)
{
    std::lock_guard guard(m_eventLock);
    m_onEvent = std::move(handler);
}

void TkitEventThread::DoEvent()
{
    if (Terminated())
        return;
    EventHandler handler;
    {
        std::lock_guard guard(m_eventLock);
        handler = m_onEvent;
    }
    if (handler)
        handler(this);
}

void TkitEventThread::RunEvent()
{
    if (Synchronized())
        Synchronize([this] { DoEvent(); });
    else
        DoEvent();
}

void TkitEventThread::Execute()
{
    if (Terminated())
        return;
    RunEvent();
}

TkitTimerThread::~TkitTimerThread()
{
    SetOnEvent({});
    Stop(true);
}

void TkitTimerThread::SetInterval(unsigned value)
{
    if (m_interval.exchange(value) != value)
        WakeUp();
}

void TkitTimerThread::Wake()
{
    WakeUp();
    Resume();
}

void TkitTimerThread::Execute()
{
    while (!Terminated()) {
        const unsigned interval = Interval();
        const auto timeout =
            interval == 0 ? std::chrono::milliseconds(-1) : std::chrono::milliseconds(interval);
        if (Sleep(timeout) != SleepResult::Timeout || Terminated())
            continue;
        try {
            RunEvent();
        } catch (...) {
            // A failing tick never stops the timer; its owner reports what went wrong.
        }
    }
}

} // namespace morvane
