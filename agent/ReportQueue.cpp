#include "agent/ReportQueue.h"

#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"

#include <atomic>

namespace morvane {

ReportQueue::ReportQueue(SharedBlock* block, QObject* parent) : QObject(parent), m_block(block)
{
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, [this] { Pump(); });
}

void ReportQueue::Post(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam)
{
    m_queue.push_back(Report{msg, wParam, record});
    Pump();
}

bool ReportQueue::PostBare(MessageIndex msg, std::uint32_t wParam)
{
    if (!m_block)
        return false;
    return PostMessage(m_block->MonitorWnd, m_block->MessageIds[msg], wParam, 0);
}

void ReportQueue::Clear()
{
    m_queue.clear();
    m_inFlight = false;
    m_poll.stop();
}

bool ReportQueue::ReceiverStillThere(std::chrono::steady_clock::time_point now)
{
    if (!m_block->MonitorRunning || m_block->MonitorWnd != m_sentTo)
        return false;
    constexpr auto kRecheck = std::chrono::milliseconds(200);
    if (now - m_aliveCheckedAt < kRecheck)
        return m_aliveAnswer;
    m_aliveCheckedAt = now;
    if (m_monitorAlive) {
        m_aliveAnswer = m_monitorAlive();
    } else {
        try {
            m_aliveAnswer = NamedMutex::IsHeld(kMonitorMutexName);
        } catch (const std::exception& e) {
            Log(std::string("cannot test for the monitor: ") + e.what());
            m_aliveAnswer = false;
        }
    }
    return m_aliveAnswer;
}

bool ReportQueue::WayIsFree()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_inFlight) {
        if (m_block->AddHandshake.AtomicLoad() && (now - m_sentAt < m_deadline || ReceiverStillThere(now)))
            return false;
        // Taken, or given up on: the slot is ours to claim again.
        m_inFlight = false;
        if (!m_block->RequestInRecord())
            m_block->AddHandshake.AtomicStore(false);
    }
    if (m_block->ClaimRecord(false)) {
        m_claimWaitSince.reset();
        return true;
    }
    // A monitor's request waits in the slot until its message is handled here. A monitor
    // that claimed the slot and never sent its message cannot hold our reports for good.
    if (!m_claimWaitSince)
        m_claimWaitSince = now;
    if (now - *m_claimWaitSince < m_deadline)
        return false;
    Log("a request record was never sent: its slot is taken back");
    m_block->RecordRequest.AtomicStore(false);
    m_block->AddHandshake.AtomicStore(true);
    m_claimWaitSince.reset();
    return true;
}

void ReportQueue::Pump()
{
    if (!m_block) {
        m_queue.clear();
        return;
    }
    while (!m_queue.empty() && WayIsFree()) {
        const Report report = m_queue.front();
        m_queue.pop_front();
        m_block->ItemRecord = report.Record;
        const std::uint32_t to = m_block->MonitorWnd;
        if (PostMessage(to, m_block->MessageIds[report.Msg], report.WParam, 0)) {
            m_inFlight = true;
            m_sentTo = to;
            m_sentAt = std::chrono::steady_clock::now();
            m_aliveCheckedAt = {};
        } else {
            // Nobody will clear the flag for a report that never left.
            m_block->AddHandshake.AtomicStore(false);
        }
    }
    if (m_queue.empty())
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}

} // namespace morvane
