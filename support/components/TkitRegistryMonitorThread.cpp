#include "TkitRegistryMonitorThread.h"

#include "platform/ChangeNotification.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/RegistryChangeNotification.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace morvane {

namespace {

// Every registry monitor of the process sets up and changes its watch under this lock,
// held only for those short steps, never during a wait.
std::mutex& RegistryMonitorLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

TkitRegistryMonitorThread::TkitRegistryMonitorThread(ChangeHandler onChange, std::string storePath)
    : KitThread(true), m_reporter(std::move(onChange)), m_storePath(std::move(storePath))
{
}

TkitRegistryMonitorThread::~TkitRegistryMonitorThread()
{
    Stop(true);
}

void TkitRegistryMonitorThread::SetParameters(RegistryRoot root, const std::string& key,
                                              unsigned notifyFilter, bool watchSubTree)
{
    {
        std::lock_guard guard(RegistryMonitorLock());
        std::lock_guard own(m_lock);
        m_root = root;
        m_key = key;
        m_notifyFilter = notifyFilter;
        m_watchSubTree = watchSubTree;
        m_restart = true;
        if (m_watch)
            m_watch->RequestStop();
    }
    WakeUp();
}

void TkitRegistryMonitorThread::Terminate()
{
    m_reporter.Close();
    {
        std::lock_guard guard(RegistryMonitorLock());
        if (m_watch)
            m_watch->RequestStop();
    }
    KitThread::Terminate();
}

bool TkitRegistryMonitorThread::KeyExists() const
{
    std::lock_guard own(m_lock);
    return m_keyExists;
}

std::string TkitRegistryMonitorThread::LastError() const
{
    std::lock_guard own(m_lock);
    return m_lastError;
}

void TkitRegistryMonitorThread::SetError(const std::string& error)
{
    if (!error.empty())
        Log("Registry monitor: " + error);
    std::lock_guard own(m_lock);
    m_lastError = error;
}

bool TkitRegistryMonitorThread::Publish(ChangeNotification* watch)
{
    std::lock_guard guard(RegistryMonitorLock());
    m_watch = watch;
    if (watch && (m_restart || Terminated())) {
        m_watch = nullptr;
        return false;
    }
    return true;
}

TkitRegistryMonitorThread::Snapshot TkitRegistryMonitorThread::Take(const RegistryStore& store) const
{
    RegistryRoot root;
    std::string key;
    unsigned filter;
    bool subTree;
    {
        std::lock_guard own(m_lock);
        root = m_root;
        key = m_key;
        filter = m_notifyFilter;
        subTree = m_watchSubTree;
    }
    Snapshot snapshot;
    snapshot.Exists = store.KeyExists(root, key);
    if (!snapshot.Exists)
        return snapshot;
    if (filter & kRegNotifyChangeName)
        snapshot.State += store.NamesFingerprint(root, key, subTree) + '\n';
    if (filter & kRegNotifyChangeLastSet)
        snapshot.State += store.ValuesFingerprint(root, key, subTree);
    return snapshot;
}

void TkitRegistryMonitorThread::Execute()
{
    const RegistryStore store(m_storePath);
    std::optional<ChangeNotification> watch;
    Snapshot seen;
    bool needWatch = true;
    while (!Terminated()) {
        if (needWatch) {
            needWatch = false;
            {
                std::lock_guard guard(RegistryMonitorLock());
                m_restart = false;
            }
            Publish(nullptr);
            try {
                // The store is replaced whole on every write, so its folder is watched,
                // not the file. The watch is set before the key is looked at, so no
                // change in between is missed.
                const std::string folder = FolderPart(m_storePath);
                std::filesystem::create_directories(folder);
                watch.emplace(std::vector<std::string>{folder}, ChangeNotification::kAllChanges);
                SetError({});
            } catch (const std::exception& e) {
                watch.reset();
                SetError(e.what());
            }
            seen = Take(store);
            {
                std::lock_guard own(m_lock);
                m_keyExists = seen.Exists;
            }
            if (!Publish(watch ? &*watch : nullptr)) {
                needWatch = true;
                continue;
            }
        }
        if (!watch) {
            Sleep(std::chrono::milliseconds(-1));
            std::lock_guard guard(RegistryMonitorLock());
            needWatch = m_restart;
            continue;
        }
        switch (watch->Wait()) {
        case ChangeNotification::WaitResult::Changed: {
            const Snapshot now = Take(store);
            // Appearing and disappearing are reported whatever the filter.
            if (now.Exists != seen.Exists || (now.Exists && now.State != seen.State))
                m_reporter.Report();
            seen = now;
            std::lock_guard own(m_lock);
            m_keyExists = seen.Exists;
            break;
        }
        case ChangeNotification::WaitResult::Stopped: {
            std::lock_guard guard(RegistryMonitorLock());
            needWatch = m_restart;
            break;
        }
        case ChangeNotification::WaitResult::Failed:
            // The store's folder went away: it is made again and watched anew.
            Publish(nullptr);
            watch.reset();
            needWatch = true;
            break;
        case ChangeNotification::WaitResult::Timeout:
            break;
        }
    }
    Publish(nullptr);
}

} // namespace morvane
