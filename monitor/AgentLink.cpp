#include "monitor/AgentLink.h"

#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"

#include <QDebug>

namespace morvane::monitor {

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

} // namespace morvane::monitor
