#include "agent/ReportQueue.h"

#include "platform/MessageWindow.h"

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

bool ReportQueue::WayIsFree()
{
    if (!m_inFlight)
        return true;
    if (!m_block->AddHandshake.AtomicLoad() || std::chrono::steady_clock::now() - m_sentAt >= m_deadline) {
        m_inFlight = false;
        return true;
    }
    return false;
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
        m_block->AddHandshake.AtomicStore(true);
        if (PostMessage(m_block->MonitorWnd, m_block->MessageIds[report.Msg], report.WParam, 0)) {
            m_inFlight = true;
            m_sentAt = std::chrono::steady_clock::now();
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
