#pragma once

#include "engine/SharedBlock.h"

#include <cstdint>
#include <string>

namespace morvane::monitor {

// The monitor's side of every request to the agent: it writes the arguments into the
// shared block and then posts the registered message to the agent's window, never
// waiting for an answer (the answer handler follows the agent's reports). Message
// numbers and the agent's window are read from the block at every request, so a
// restarted agent is reached without the monitor starting again.
//
// Each request returns false when nothing was sent: the path does not fit the block, or
// the post failed (no agent window any more). Main thread only.
class AgentLink
{
public:
    explicit AgentLink(SharedBlock* block) : m_block(block) {}

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

private:
    bool Post(int index, std::uint32_t wParam);
    bool PathRequest(int index, const std::string& path, bool markOrigin);

    SharedBlock* m_block;
};

} // namespace morvane::monitor
