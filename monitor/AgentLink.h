#pragma once

#include "engine/SharedBlock.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace morvane::monitor {

// The monitor's side of every request to the agent: it writes the arguments into the
// shared block and then posts the registered message to the agent's window, never
// waiting for an answer (the answer handler follows the agent's reports). Message
// numbers and the agent's window are read from the block at every request, so a
// restarted agent is reached without the monitor starting again.
//
// The block holds one path: a path request goes out only once the agent has taken the
// previous one (emptied PathArg). Until then it waits in a queue, with every request made
// after it, and the queue is worked off by a timer, so the window never freezes for the
// wait. What cannot be handed over within HandOverLimit is dropped and reported through
// the OnNotSent callback, never silently.
//
// Each request returns false when nothing was or will be sent: the path does not fit the
// block, or the post failed (no agent window any more). Main thread only.
class AgentLink : public QObject
{
    Q_OBJECT
public:
    explicit AgentLink(SharedBlock* block, QObject* parent = nullptr);

    // True while an agent holds its mutex: a request can be carried out. Any thread.
    static bool AgentAlive();

    // ADD: the whole record goes into ItemRecord (a file: Path, IsFolder 0).
    bool RequestAdd(const TMonItemRecord& record);
    // DELETE of the item with that path.
    bool RequestDelete(const std::string& path);
    // START (state 1) or STOP (state 0), picked as message entry 3 - state.
    bool RequestState(int state, const std::string& path);
    // MAKE: a version now.
    bool RequestMake(const std::string& path);
    // CLEAR: the versions before the item's last one (no request marker).
    bool RequestClear(const std::string& path);
    // UPDATE: the item's new record; wParam 1 also stores it as the defaults.
    bool RequestUpdate(const TMonItemRecord& record, std::uint32_t wParam);

    // REINIT: the agent reloads its settings (and ends a hold on making versions).
    bool RequestReinit();
    // REINIT with kReinitHold, then waits (handling events) until the agent confirms by
    // emptying PathArg. False when nothing was sent or no confirmation came in time.
    bool RequestHold(int timeoutMs);

    // The number of a registered message as the block holds it now.
    std::uint32_t MessageId(int index) const;

    // Called with the message names and paths of the requests that were dropped because
    // the agent did not take the one before them in time, or their post failed.
    void SetOnNotSent(std::function<void(const std::string& what)> onNotSent)
    {
        m_onNotSent = std::move(onNotSent);
    }
    void SetHandOverLimit(std::chrono::milliseconds limit) { m_limit = limit; }
    // Requests still waiting to be handed over.
    std::size_t Waiting() const { return m_queue.size(); }

private:
    struct Request
    {
        int Index = 0;
        std::string Path; // a path request when not empty
        bool MarkOrigin = false;
        TMonItemRecord Record{};
        std::uint32_t WParam = 0;
    };

    bool Submit(Request request);
    bool Ready(const Request& request) const;
    bool Send(const Request& request);
    void Pump();
    static std::string Describe(const Request& request);

    SharedBlock* m_block;
    std::deque<Request> m_queue;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_waitSince;
    std::chrono::milliseconds m_limit{10000};
    std::function<void(const std::string&)> m_onNotSent;
};

} // namespace morvane::monitor
