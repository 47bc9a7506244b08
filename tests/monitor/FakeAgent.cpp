#include "FakeAgent.h"

#include "common/TestSupport.h"
#include "platform/MessageAtoms.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstring>
#include <stdexcept>

namespace morvane::test {

FakeAgent::FakeAgent(const std::string& home)
{
    m_mutex = NamedMutex::TryAcquire(kAgentMutexName);
    if (!m_mutex)
        throw std::runtime_error("the agent's mutex is taken");
    m_block = SharedBlockMapping::Create();
    SharedBlock* block = m_block->Block();
    for (int i = 0; i < kMessageCount; ++i)
        block->MessageIds[i] = RegisterWindowMessage(kMessageNames[i]);
    m_window = std::make_unique<MessageWindow>();
    m_window->SetHandler([this](const WindowMessage& message) {
        std::memcpy(m_lastPathArg, Block()->PathArg, sizeof m_lastPathArg);
        if (TakesPaths) {
            Block()->PathArg[0] = '\0';
            Block()->ReleaseRequestRecord();
        }
        m_received.push_back(message);
    });
    block->AgentWnd = m_window->Handle();
    block->AgentDir.Set(home);
    block->Settings.BackupPath.Set(home + "backup/");
    block->Settings.ShowFileName = true;
    block->Settings.DateFormat.Set("yyyy-mm-dd hh:nn:ss");
    for (int slot = 0; slot < kTextSlotCount; ++slot)
        block->Texts[slot].Set(kTextSlots[slot].Default);
}

FakeAgent::~FakeAgent() = default;

std::optional<WindowMessage> FakeAgent::WaitFor(MessageIndex index)
{
    std::optional<WindowMessage> found;
    WaitUntil([&] {
        for (const WindowMessage& message : m_received)
            if (message.Msg == Id(index))
                found = message;
        return found.has_value();
    });
    return found;
}

bool FakeAgent::NothingArrives()
{
    QElapsedTimer timer;
    timer.start();
    // A post is a local datagram: what was sent has arrived well within this time.
    while (timer.elapsed() < 150)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return m_received.empty();
}

bool FakeAgent::Report(MessageIndex index, const TMonItemRecord& record, std::uint32_t wParam)
{
    Block()->ItemRecord = record;
    return Report(index, wParam);
}

bool FakeAgent::Report(MessageIndex index, std::uint32_t wParam)
{
    return PostMessage(Block()->MonitorWnd, Id(index), wParam, 0);
}

void FakeAgent::Die()
{
    m_window.reset();
    m_mutex.reset();
}

TMonItemRecord ItemRecordFor(const std::string& path, const std::string& fileId)
{
    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set(path);
    record.FileID.Set(fileId);
    record.IsFolder = !path.empty() && path.back() == '/';
    record.Monitored = true;
    record.MonStatus = msActive;
    record.IsSaved = true;
    record.DelMode = dmNumber;
    record.DelModeNumber = 10;
    record.FolderWait = 1;
    return record;
}

std::string WriteVersion(const std::string& backupRoot, const std::string& fileId, const std::string& folder,
                         const std::string& name, const std::string& text)
{
    const std::string path = backupRoot + fileId + "/" + folder + "/" + name;
    WriteFile(path, text);
    return path;
}

} // namespace morvane::test
