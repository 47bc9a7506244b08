#pragma once

#include "engine/MonItemRecord.h"
#include "engine/SharedBlock.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace morvane {

// The agent's reports to the monitor that carry an item record, posted one at a time.
//
// The block holds one record, and the monitor reads it only when its main thread takes
// the report, so a second report written before that would overwrite the first. Each
// report is therefore sent as: ItemRecord := the record, AddHandshake := 1, post; the next
// report waits until the monitor has cleared AddHandshake (it does so when it has taken
// the record). A monitor that is busy (loading its list at start) keeps the way for as
// long as it runs; only a monitor that is gone (its mutex free, another window registered,
// or MonitorRunning cleared) or a client that does not clear the flag loses the way, once
// the deadline has passed. A post that fails (no monitor window) frees the way at once.
// While reports wait, a short timer looks at the flag; nothing runs while the queue is
// empty.
//
// Main thread only; the engine's threads reach it through the engine's main-thread queue.
class ReportQueue : public QObject
{
    Q_OBJECT
public:
    explicit ReportQueue(SharedBlock* block, QObject* parent = nullptr);

    // Queues a report of msg with wParam carrying record, to the window in MonitorWnd as it
    // is when the report is sent.
    void Post(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam = 0);

    // Posts a report without a record at once (CLOSE, ACTIVATE). False when the post
    // fails.
    bool PostBare(MessageIndex msg, std::uint32_t wParam = 0);

    // Forgets every waiting report (the agent is closing, or the block goes away).
    void Clear();
    std::size_t Waiting() const { return m_queue.size(); }
    // True while a sent report may not have been read by the monitor yet.
    bool InFlight() const { return m_inFlight; }

    // How long a sent report may hold the way before the next one goes, unless the
    // monitor it went to still runs.
    void SetDeadline(std::chrono::milliseconds deadline) { m_deadline = deadline; }
    // Replaces the test whether a monitor program runs (by default: its mutex is held).
    void SetMonitorAlive(std::function<bool()> alive) { m_monitorAlive = std::move(alive); }

private:
    struct Report
    {
        MessageIndex Msg;
        std::uint32_t WParam;
        TMonItemRecord Record;
    };

    void Pump();
    bool WayIsFree();
    // True while the window the report in flight went to is still the registered monitor
    // and its program runs; looked at now and then, not at every poll.
    bool ReceiverStillThere(std::chrono::steady_clock::time_point now);

    SharedBlock* m_block;
    std::deque<Report> m_queue;
    bool m_inFlight = false;
    std::chrono::steady_clock::time_point m_sentAt{};
    std::uint32_t m_sentTo = 0;
    std::function<bool()> m_monitorAlive;
    std::chrono::steady_clock::time_point m_aliveCheckedAt{};
    bool m_aliveAnswer = false;
    std::chrono::milliseconds m_deadline{2000};
    // Since when a report has waited for a monitor's request to leave the record slot.
    std::optional<std::chrono::steady_clock::time_point> m_claimWaitSince;
    QTimer m_poll;
};

} // namespace morvane
