#include "monitor/TMonDirThread.h"

#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "engine/VersionStore.h"
#include "platform/ChangeNotification.h"
#include "platform/FileCopy.h"
#include "platform/Log.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <cstring>
#include <stdexcept>

namespace morvane::monitor {

namespace {

constexpr auto kWait = std::chrono::milliseconds(1000);

} // namespace

TMonDirThread::TMonDirThread(TRKMonItem& item)
    : WatchThread(item.Owner().MainThread()), m_item(item), m_owner(item.Owner()), m_path(item.Path()),
      m_folder(FolderPart(m_path))
{
    // The watch is set up before the first copy, so a change made meanwhile is not missed.
    m_notify = std::make_unique<ChangeNotification>(m_folder);
    if (const auto stamp = SaveCopy())
        NotifyCopy(m_item.weak_from_this(), m_path, *stamp);
    Start();
}

TMonDirThread::~TMonDirThread()
{
    StopAndJoin();
}

void TMonDirThread::WakeWaits()
{
    m_notify->RequestStop();
}

std::string TMonDirThread::CopyFolderName(double stamp)
{
    const DateParts parts = DecodeOleDate(stamp);
    std::string name = FormatDateTime("yyyy-mm-dd", stamp);
    if (parts.Hour != 0 || parts.Minute != 0 || parts.Second != 0)
        name += " " + FormatDateTime("h-nn-ss", stamp);
    return name;
}

WatchThreadFactory TMonDirThread::Factory()
{
    return [](TRKMonFolder& folder) -> std::unique_ptr<WatchThread> {
        return std::make_unique<TMonDirThread>(folder);
    };
}

std::optional<double> TMonDirThread::SaveCopy()
{
    const auto stamp = FileDate(m_path);
    if (!stamp)
        return std::nullopt;
    const TMonItemRecord record = m_item.Data();
    if (*stamp == record.LastTime)
        return std::nullopt;
    const std::string fileId = record.FileID.Get();
    // Copies go only below the item's own backup folder.
    if (!IsPlainFolderName(fileId))
        throw std::runtime_error("no usable backup folder name for " + m_path);
    const std::string copyFolder =
        ItemBackupFolder(m_owner.BackupRoot(), fileId) + CopyFolderName(*stamp) + std::string(kPathSepText);
    if (!MakePrivateDirs(WithoutTrailingSep(copyFolder)))
        throw std::runtime_error("cannot create " + copyFolder);

    // Written beside its final name and renamed into place: a crash leaves no half copy,
    // and a copy of the same second made before is replaced whole.
    CopyOptions options;
    options.Replace = true;
    // Read-only like every version: opening a copy never changes it.
    options.Mode = kVersionFileMode;
    const CopyResult copy = CopyFileSafely(m_path, copyFolder + NamePart(m_path), options);
    switch (copy.Status) {
    case CopyStatus::Ok:
        break;
    case CopyStatus::SourceMissing: // saved by rename, or deleted: the next change tells
    case CopyStatus::Changed:       // still being written: the next change copies it
        return std::nullopt;
    case CopyStatus::NotRegular:
        throw std::runtime_error("cannot read " + m_path + ": not a regular file");
    case CopyStatus::SourceUnreadable:
        throw std::runtime_error("cannot read " + m_path + ": " + std::strerror(copy.Error));
    default:
        throw std::runtime_error("cannot write the copy of " + m_path + ": " + std::strerror(copy.Error));
    }
    return stamp;
}

void TMonDirThread::NotifyCopy(const std::weak_ptr<TRKMonItem>& weakItem, const std::string& path,
                               double stamp)
{
    const auto item = weakItem.lock();
    if (!item || stamp == item->LastTime())
        return;
    TRKMonItems& owner = item->Owner();
    if (EngineHost* host = owner.Host()) {
        host->SetBalloonText(path);
        host->ShowBalloon();
    }
    item->UpdateData([stamp](TMonItemRecord& record) { record.LastTime = stamp; });
    try {
        owner.SaveAll();
    } catch (const std::exception& e) {
        Log(std::string("the item list was not saved: ") + e.what());
    }
}

void TMonDirThread::Execute()
{
    while (!StopRequested()) {
        const auto result = m_notify->Wait(kWait);
        if (result == ChangeNotification::WaitResult::Failed ||
            result == ChangeNotification::WaitResult::Stopped)
            break;
        if (result != ChangeNotification::WaitResult::Changed)
            continue;
        if (const auto stamp = SaveCopy()) {
            Calls().Synchronize([item = m_item.weak_from_this(), path = m_path,
                                 copied = *stamp] { NotifyCopy(item, path, copied); },
                                StopFlag());
        }
    }
}

void TMonDirThread::Failed(const std::string& why)
{
    Log("watching " + m_path + " ended: " + why);
}

} // namespace morvane::monitor
