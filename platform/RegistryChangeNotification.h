#pragma once

#include "platform/ChangeNotification.h"
#include "platform/RegistryStore.h"

#include <chrono>
#include <memory>
#include <string>

namespace morvane {

// What a registry change notification reports.
inline constexpr unsigned kRegNotifyChangeName = 0x1;       // a key below was added or deleted
inline constexpr unsigned kRegNotifyChangeAttributes = 0x2; // the store keeps none: never reported
inline constexpr unsigned kRegNotifyChangeLastSet = 0x4;    // a value was set or deleted
inline constexpr unsigned kRegNotifyChangeSecurity = 0x8;   // the store keeps none: never reported

// Change notification on one key of a registry store (and, with subtree, every key below
// it), made by any process. The store's folder is watched through inotify; each wake-up
// compares the key's state with the state seen when the notification was armed, so changes
// elsewhere in the store, or to other files of the folder, are not reported. Nothing polls.
// Move-only owner of its watch.
class RegistryChangeNotification
{
public:
    using WaitResult = ChangeNotification::WaitResult;

    // Arms the notification on the key's present state. The key need not exist: its
    // creation is a change of names. Throws std::system_error when the store's folder
    // cannot be created or watched.
    RegistryChangeNotification(std::string storePath, RegistryRoot root, std::string key, bool watchSubtree,
                               unsigned filter);

    // Waits for a change that the filter selects, a stop request or the timeout (negative:
    // none). A reported change re-arms on the state it found, so each change is reported
    // once. Stopped stays the answer once RequestStop was called. Waiting thread.
    WaitResult Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

    // Takes the key's present state as the one to compare with: changes made before are
    // not reported. Waiting thread.
    void Rearm();

    // Ends the current or next Wait with Stopped. Any thread.
    void RequestStop();

    const std::string& StorePath() const { return m_store.Path(); }
    RegistryRoot Root() const { return m_root; }
    const std::string& Key() const { return m_key; }
    bool WatchSubtree() const { return m_subtree; }
    unsigned Filter() const { return m_filter; }

private:
    std::string State() const;

    RegistryStore m_store;
    RegistryRoot m_root;
    std::string m_key;
    bool m_subtree;
    unsigned m_filter;
    std::unique_ptr<ChangeNotification> m_watch;
    std::string m_armed;
};

} // namespace morvane
