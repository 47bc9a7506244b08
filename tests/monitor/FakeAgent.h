#pragma once

#include "engine/MonItemRecord.h"
#include "engine/SharedBlock.h"
#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::test {

// Stands as the agent inside the test process: holds the agent's mutex and block,
// registers the message numbers, and records every message posted to its window. Fill
// the block's settings and texts as a running agent would.
class FakeAgent
{
public:
    // home is the agent's folder (AgentDir); the backup root is home + "backup/".
    explicit FakeAgent(const std::string& home);
    ~FakeAgent();

    SharedBlock* Block() const { return m_block->Block(); }
    std::uint32_t Id(MessageIndex index) const { return Block()->MessageIds[index]; }

    // PathArg as it stood when the last message arrived; the fake then empties it, as the
    // agent does once it has read a path.
    const char* LastPathArg() const { return m_lastPathArg; }
    // While false, the fake leaves PathArg alone (an agent that has not taken it yet).
    bool TakesPaths = true;

    // Messages received so far, oldest first.
    const std::vector<WindowMessage>& Received() const { return m_received; }
    void ClearReceived() { m_received.clear(); }
    // Waits until a message with that index arrived; the last such one.
    std::optional<WindowMessage> WaitFor(MessageIndex index);
    // Processes events briefly and says whether nothing at all arrived.
    bool NothingArrives();

    // A report to the monitor: record into ItemRecord, then the message.
    bool Report(MessageIndex index, const TMonItemRecord& record, std::uint32_t wParam = 0);
    bool Report(MessageIndex index, std::uint32_t wParam = 0);

    // The agent ends: its window and mutex go (the block stays mapped by others).
    void Die();

private:
    std::optional<NamedMutex> m_mutex;
    std::optional<SharedBlockMapping> m_block;
    std::unique_ptr<MessageWindow> m_window;
    std::vector<WindowMessage> m_received;
    char m_lastPathArg[sizeof(SharedBlock::PathArg)] = {};
};

// A record for a file or folder path with the settings a new item gets.
TMonItemRecord ItemRecordFor(const std::string& path, const std::string& fileId);

// Writes a version file: backupRoot + fileId + "/" + folder + "/" + name.
std::string WriteVersion(const std::string& backupRoot, const std::string& fileId, const std::string& folder,
                         const std::string& name, const std::string& text = "v");

} // namespace morvane::test
