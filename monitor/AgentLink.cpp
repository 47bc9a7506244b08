#include "monitor/AgentLink.h"

#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"
#include "platform/ShortText.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>
#include <atomic>

namespace morvane::monitor {

namespace {
constexpr int kPumpInterval = 10; // ms
}

AgentLink::AgentLink(SharedBlock* block, QObject* parent) : QObject(parent), m_block(block)
{
    m_timer.setInterval(kPumpInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] { Pump(); });
}

bool AgentLink::AgentAlive()
{
    try {
        return NamedMutex::IsHeld(kAgentMutexName);
    } catch (const std::exception& e) {
        qWarning("Cannot test for the agent: %s", e.what());
        return false;
    }
}

std::uint32_t AgentLink::MessageId(int index) const
{
    if (!m_block || index < 0 || index >= kMessageCount)
        return 0;
    return m_block->MessageIds[index];
}

std::string AgentLink::Describe(const Request& request)
{
    std::string text;
    switch (request.Index) {
    case MsgAdd:
        text = "add";
        break;
    case MsgDelete:
        text = "remove";
        break;
    case MsgStart:
        text = "start";
        break;
    case MsgStop:
        text = "stop";
        break;
    case MsgMake:
        text = "make a version of";
        break;
    case MsgClear:
        text = "clear the versions of";
        break;
    default:
        text = "change";
        break;
    }
    const std::string path = request.Path.empty() ? request.Record.Path.Get() : request.Path;
    if (!path.empty())
        text += " " + path;
    return text;
}

bool AgentLink::Ready(const Request& request) const
{
    // Writing over a path not yet taken would have the earlier request carried out on
    // this one's item (a DELETE of the wrong file).
    return request.Path.empty() || m_block->PathArg[0] == '\0';
}

bool AgentLink::Send(const Request& request)
{
    const std::uint32_t msg = MessageId(request.Index);
    if (msg == 0)
        return false;
    if (!request.Path.empty()) {
        if (!m_block->SetPathArg(request.Path))
            return false;
    } else if (request.Index == MsgAdd || request.Index == MsgUpdate) {
        m_block->ItemRecord = request.Record;
    }
    if (request.MarkOrigin)
        m_block->RequestOrigin = kOriginMonitor;
    return PostMessage(m_block->AgentWnd, msg, request.WParam, 0);
}

bool AgentLink::Submit(Request request)
{
    if (!m_block)
        return false;
    // A path that does not fit is refused now; the block stays as it was.
    if (!request.Path.empty() && !FitsShortText(request.Path))
        return false;
    if (m_queue.empty() && Ready(request))
        return Send(request);
    if (m_queue.empty())
        m_waitSince = std::chrono::steady_clock::now();
    m_queue.push_back(std::move(request));
    m_timer.start();
    return true;
}

void AgentLink::Pump()
{
    std::string dropped;
    while (!m_queue.empty()) {
        const Request& head = m_queue.front();
        if (!Ready(head)) {
            if (std::chrono::steady_clock::now() - m_waitSince < m_limit)
                break;
            // The agent has not taken its previous request: everything behind it waits on
            // the same agent, so all of it is given up and said at once.
            for (const Request& r : m_queue)
                dropped += (dropped.empty() ? "" : "\n") + Describe(r);
            m_queue.clear();
            break;
        }
        const Request request = head;
        m_queue.pop_front();
        m_waitSince = std::chrono::steady_clock::now();
        if (!Send(request))
            dropped += (dropped.empty() ? "" : "\n") + Describe(request);
    }
    if (m_queue.empty())
        m_timer.stop();
    if (!dropped.empty()) {
        qWarning("Not handed over to the agent: %s", dropped.c_str());
        if (m_onNotSent)
            m_onNotSent(dropped);
    }
}

bool AgentLink::RequestAdd(const TMonItemRecord& record)
{
    Request r;
    r.Index = MsgAdd;
    r.MarkOrigin = true;
    r.Record = record;
    return Submit(std::move(r));
}

bool AgentLink::RequestDelete(const std::string& path)
{
    if (path.empty())
        return false;
    return Submit({MsgDelete, path, true, {}, 0});
}

bool AgentLink::RequestState(int state, const std::string& path)
{
    if (path.empty())
        return false;
    // START and STOP sit next to each other: entry 3 - state.
    return Submit({3 - (state ? 1 : 0), path, true, {}, 0});
}

bool AgentLink::RequestMake(const std::string& path)
{
    if (path.empty())
        return false;
    return Submit({MsgMake, path, true, {}, 0});
}

bool AgentLink::RequestClear(const std::string& path)
{
    if (path.empty())
        return false;
    return Submit({MsgClear, path, false, {}, 0});
}

bool AgentLink::RequestUpdate(const TMonItemRecord& record, std::uint32_t wParam)
{
    Request r;
    r.Index = MsgUpdate;
    r.Record = record;
    r.WParam = wParam;
    return Submit(std::move(r));
}

bool AgentLink::RequestReinit()
{
    Request r;
    r.Index = MsgReinit;
    return Submit(std::move(r));
}

bool AgentLink::RequestHold(int timeoutMs)
{
    if (!m_block)
        return false;
    // The agent writes the block from its own process: every look must really load it.
    const std::atomic_ref<char> first(m_block->PathArg[0]);
    QDeadlineTimer deadline(timeoutMs);
    // Requests still queued go first, and a path the agent has not taken yet keeps its
    // argument; the queue is worked off by its timer meanwhile.
    while (!m_queue.empty() || first.load() != '\0') {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    Request hold;
    hold.Index = MsgReinit;
    hold.Path = "hold";
    hold.WParam = kReinitHold;
    if (!Send(hold))
        return false;
    while (first.load() != '\0') {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace morvane::monitor
