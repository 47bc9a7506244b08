#pragma once

#include "engine/MonItemRecord.h"
#include "engine/SharedBlock.h"
#include "platform/FileStamp.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace morvane {

class EngineHost;
class IniFile;
class ListWriteBehind;
class MainThreadCalls;
class PackedItemRecord;
class TRKMonItem;
class TRKMonItems;

// What an item needs of the collection that holds it: the engine's context, the state of
// a load of the list, and the list operations an item starts on itself. TRKMonItems is
// the one owner; the item sees it only through this, so the two stay apart. Each method
// is described where TRKMonItems declares it; the owner outlives the item's use of it.
class ItemOwner
{
public:
    // The collection behind this owner, for callers that work on the whole list.
    virtual TRKMonItems& Collection() = 0;

    // The engine's context. Any thread.
    virtual bool Active() const = 0;
    virtual const std::string& ListFile() const = 0;
    virtual std::string BackupRoot() const = 0;
    virtual std::string MoveTarget() const = 0;
    virtual SharedBlock* Block() const = 0;
    virtual EngineHost* Host() const = 0;
    virtual MainThreadCalls& MainThread() = 0;
    virtual std::weak_ptr<void> AliveToken() const = 0;

    // What the load of the list running on this thread read and found.
    virtual IniFile* LoadReader() const = 0;
    virtual std::uint64_t LoadNumber() const = 0;
    virtual bool MayHoldVersions(const std::string& fileId) const = 0;
    virtual const std::optional<FileStamp>* LookedAtLoad(const std::string& path) const = 0;
    virtual const PackedItemRecord* ReadAtLoad(const std::string& path) const = 0;
    // While the list loads on this thread, takes item (found missing) to be looked for
    // later and returns true; false otherwise.
    virtual bool DeferPresence(TRKMonItem& item) = 0;

    // The writing of the list, and the reports to a running monitor.
    virtual ListWriteBehind& ListWriter() = 0;
    virtual void FlushList() = 0;
    virtual void PostToMonitor(MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam) = 0;

    // Told by an item after its Path or FileID changed. Takes the owner's lock.
    virtual void KeysChanged(TRKMonItem& item) = 0;
    // TRKMonItem::Reassign's work: moves item to newPath within the lists.
    virtual void ReassignItem(TRKMonItem& item, const std::string& newPath) = 0;

protected:
    ~ItemOwner() = default;
};

} // namespace morvane
