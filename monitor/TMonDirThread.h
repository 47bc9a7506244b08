#pragma once

#include "engine/WatchThread.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace morvane {
class ChangeNotification;
class TRKMonItem;
class TRKMonItems;
} // namespace morvane

namespace morvane::monitor {

// The monitor's own watch thread: it watches one item's file and, whenever the file's
// folder reports a change and the file's date differs from the item's LastTime, copies
// the file into backup root + FileID + "/" + its date and time ("2024-03-05 9-07-02",
// the time left out at midnight) and announces the copy with a balloon. The passive
// engine of the monitor never starts it; it is what the monitor's factory makes.
//
// The item is held by reference: its folder joins this thread before it goes. The first
// copy is made by the constructor (on the caller's thread, where an error reaches the
// caller); later copies on the thread, where an error ends the thread (said on stderr).
class TMonDirThread : public WatchThread
{
public:
    // Sets up the watch, copies the file once if needed, then starts the thread. Throws
    // std::system_error when the watch cannot be set up, std::runtime_error when the
    // first copy fails.
    explicit TMonDirThread(TRKMonItem& item);
    ~TMonDirThread() override; // asks the thread to end and joins it

    // The copy folder's name for a file date.
    static std::string CopyFolderName(double stamp);
    // The factory the monitor installs on its item collection.
    static WatchThreadFactory Factory();

private:
    void Execute() override;
    void Failed(const std::string& why) override;
    void WakeWaits() override;
    // Copies the file when its date differs from LastTime; the date copied, or nothing.
    // Throws on input or output errors.
    std::optional<double> SaveCopy();
    // Main thread: balloon, LastTime, save the list. Takes the item by weak reference, so
    // a call that runs after the thread gave up waiting touches nothing that is gone.
    static void NotifyCopy(const std::weak_ptr<TRKMonItem>& item, const std::string& path, double stamp);

    TRKMonItem& m_item;
    TRKMonItems& m_owner;
    const std::string m_path;
    const std::string m_folder;
    std::unique_ptr<ChangeNotification> m_notify; // made before the thread, kept until it is joined
};

} // namespace morvane::monitor
