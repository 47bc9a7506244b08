#include "monitor/AgentLink.h"

#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace morvane::monitor {

namespace {
constexpr auto kPathTakenWait = std::chrono::seconds(3);
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

bool AgentLink::Post(int index, std::uint32_t wParam)
{
    const std::uint32_t msg = MessageId(index);
    if (!m_block || msg == 0)
        return false;
    return PostMessage(m_block->AgentWnd, msg, wParam, 0);
}

bool AgentLink::PathRequest(int index, const std::string& path, bool markOrigin)
{
    if (!m_block)
        return false;
    // The block holds one path: the agent empties it once it has read it. Writing over a
    // path not yet taken would have the earlier request carried out on this one's item
    // (a DELETE of the wrong file), so wait a moment for it, and send nothing when the
    // agent does not take it.
    const auto deadline = std::chrono::steady_clock::now() + kPathTakenWait;
    while (m_block->PathArg[0] != '\0') {
        if (std::chrono::steady_clock::now() >= deadline) {
            qWarning("The agent has not taken its previous request; this one is not sent.");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The path goes in first: a request whose path does not fit leaves the block as it was.
    if (path.empty() || !m_block->SetPathArg(path))
        return false;
    if (markOrigin)
        m_block->RequestOrigin = kOriginMonitor;
    return Post(index, 0);
}

bool AgentLink::RequestAdd(const TMonItemRecord& record)
{
    if (!m_block)
        return false;
    m_block->RequestOrigin = kOriginMonitor;
    m_block->ItemRecord = record;
    return Post(MsgAdd, 0);
}

bool AgentLink::RequestDelete(const std::string& path)
{
    return PathRequest(MsgDelete, path, true);
}

bool AgentLink::RequestState(int state, const std::string& path)
{
    // START and STOP sit next to each other: entry 3 - state.
    return PathRequest(3 - (state ? 1 : 0), path, true);
}

bool AgentLink::RequestMake(const std::string& path)
{
    return PathRequest(MsgMake, path, true);
}

bool AgentLink::RequestClear(const std::string& path)
{
    return PathRequest(MsgClear, path, false);
}

bool AgentLink::RequestUpdate(const TMonItemRecord& record, std::uint32_t wParam)
{
    if (!m_block)
        return false;
    m_block->ItemRecord = record;
    return Post(MsgUpdate, wParam);
}

bool AgentLink::RequestReinit()
{
    return m_block && Post(MsgReinit, 0);
}

bool AgentLink::RequestHold(int timeoutMs)
{
    if (!m_block)
        return false;
    // The agent writes the block from its own process: every look must really load it.
    const std::atomic_ref<char> first(m_block->PathArg[0]);
    QDeadlineTimer deadline(timeoutMs);
    // A request whose path the agent has not taken yet keeps its argument.
    while (first.load() != '\0') {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    if (!m_block->SetPathArg("hold") || !Post(MsgReinit, kReinitHold))
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
