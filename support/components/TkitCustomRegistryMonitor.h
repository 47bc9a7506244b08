#pragma once

#include "TkitRegistryMonitorThread.h"
#include "platform/RegistryChangeNotification.h"
#include "support/KitSysUtils.h"
#include "support/TkitComponent.h"

#include <functional>
#include <memory>
#include <string>

namespace morvane {

enum TkitRegistryMonitorFilter : unsigned
{
    rmfSubTreeChange = kRegNotifyChangeName,
    rmfAttributeChange = kRegNotifyChangeAttributes,
    rmfValueChange = kRegNotifyChangeLastSet,
    rmfSecurityChange = kRegNotifyChangeSecurity,
};
// A set of TkitRegistryMonitorFilter values; its numeric value is what the worker gets.
using TkitRegistryMonitorFilters = unsigned;

// Calls OnChange on the main thread whenever something the filters select changes under
// RegistryKey of the registry store, when the key is created and when it is deleted.
// Runs one worker while Active and OnChange is assigned; any change of a setting while
// active replaces the worker. Stopping joins the worker, and no OnChange runs after Stop
// (or a setter that stops) returns. Main thread only.
class TkitCustomRegistryMonitor : public TkitComponent
{
    Q_OBJECT

public:
    using ThreadMethod = std::function<void()>;

    explicit TkitCustomRegistryMonitor(QObject* owner = nullptr);
    ~TkitCustomRegistryMonitor() override;

    bool Active() const { return m_active; }
    // Always refreshes, also with the same value.
    void SetActive(bool value);
    const std::string& RegistryKey() const { return m_registryKey; }
    void SetRegistryKey(const std::string& value);
    TkitRegRootKey RootKey() const { return m_rootKey; }
    void SetRootKey(TkitRegRootKey value);
    TkitRegistryMonitorFilters NotifyFilters() const { return m_notifyFilters; }
    void SetNotifyFilters(TkitRegistryMonitorFilters value);
    bool WatchSubTree() const { return m_watchSubTree; }
    void SetWatchSubTree(bool value);
    // Always refreshes.
    void SetOnChange(ThreadMethod handler);

    void BeginLoading() { m_loading = true; }
    void Loaded();

    virtual void Refresh();
    virtual void Start();
    virtual void Stop();

    TkitRegistryMonitorThread* Thread() const { return m_thread.get(); }

private:
    bool m_active = false;
    std::string m_registryKey;
    TkitRegRootKey m_rootKey = rrkCurrentUser;
    TkitRegistryMonitorFilters m_notifyFilters = rmfSubTreeChange | rmfValueChange;
    bool m_watchSubTree = true;
    ThreadMethod m_onChange;
    bool m_loading = false;
    bool m_destroying = false;
    std::unique_ptr<TkitRegistryMonitorThread> m_thread;
};

class TkitRegistryMonitor : public TkitCustomRegistryMonitor
{
    Q_OBJECT
public:
    using TkitCustomRegistryMonitor::TkitCustomRegistryMonitor;
};

} // namespace morvane
