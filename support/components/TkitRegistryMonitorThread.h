#pragma once

#include "KitThread.h"
#include "platform/RegistryStore.h"

#include <functional>
#include <mutex>
#include <string>

namespace morvane {

class ChangeNotification;

// Watches one key of the registry store (and, with WatchSubTree, the keys below it) and
// calls OnChange on the main thread for every change the filter selects (the
// kRegNotifyChange kinds), when the key appears and when it disappears. Changes of other
// keys are not reported. Created suspended; SetParameters, then Resume. Terminate wakes
// the worker at once, and no OnChange runs once Terminate has been called on the main
// thread. A store that cannot be watched reports nothing: LastError says why.
class TkitRegistryMonitorThread : public KitThread
{
public:
    using ChangeHandler = std::function<void()>;

    // storePath: the store's file; every monitor of the programs uses
    // RegistryStore::DefaultPath().
    TkitRegistryMonitorThread(ChangeHandler onChange, std::string storePath = RegistryStore::DefaultPath());
    ~TkitRegistryMonitorThread() override;

    // A running worker starts over with the new values. Any thread.
    void SetParameters(RegistryRoot root, const std::string& key, unsigned notifyFilter, bool watchSubTree);
    void Terminate() override;

    // Whether the key existed when the worker last looked.
    bool KeyExists() const;
    std::string LastError() const;

protected:
    void Execute() override;

private:
    struct Snapshot
    {
        bool Exists = false;
        std::string State;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot Take(const RegistryStore& store) const;
    bool Publish(ChangeNotification* watch);
    void SetError(const std::string& error);

    ChangeReporter m_reporter;
    const std::string m_storePath;
    mutable std::mutex m_lock;
    RegistryRoot m_root = RegistryRoot::CurrentUser;
    std::string m_key;
    unsigned m_notifyFilter = 0;
    bool m_watchSubTree = false;
    bool m_restart = false;
    bool m_keyExists = false;
    ChangeNotification* m_watch = nullptr;
    std::string m_lastError;
};

} // namespace morvane
