#pragma once

#include "TkitFolderMonitorThread.h"
#include "support/TkitComponent.h"

#include <functional>
#include <memory>
#include <string>

namespace morvane {

enum TFolderMonitorFilter : unsigned
{
    fmfFileNameChange = ChangeNotification::kFileNameChange,
    fmfDirNameChange = ChangeNotification::kDirNameChange,
    fmfAttributeChange = ChangeNotification::kAttributeChange,
    fmfSizeChange = ChangeNotification::kSizeChange,
    fmfWriteChange = ChangeNotification::kLastWriteChange,
    fmfSecurityChange = ChangeNotification::kSecurityChange,
};
// A set of TFolderMonitorFilter values; its numeric value is what the worker is given.
using TFolderMonitorFilters = unsigned;

// Calls OnChange on the main thread whenever something the filters select changes in
// Folder (and below it, with WatchSubTree). Runs one worker while Active and OnChange is
// assigned; any change of a setting while active replaces the worker. Stopping joins the
// worker, and no OnChange runs after Stop (or a setter that stops) returns. A folder that
// cannot be watched gives no OnChange; LastError says why. Main thread only.
class TkitCustomFolderMonitor : public TkitComponent
{
    Q_OBJECT

public:
    using ThreadMethod = std::function<void()>;

    explicit TkitCustomFolderMonitor(QObject* owner = nullptr);
    ~TkitCustomFolderMonitor() override;

    bool Active() const { return m_active; }
    // Always refreshes, also with the same value.
    void SetActive(bool value);
    const std::string& Folder() const { return m_folder; }
    void SetFolder(const std::string& value);
    TFolderMonitorFilters NotifyFilters() const { return m_notifyFilters; }
    void SetNotifyFilters(TFolderMonitorFilters value);
    bool WatchSubTree() const { return m_watchSubTree; }
    void SetWatchSubTree(bool value);
    // Always refreshes.
    void SetOnChange(ThreadMethod handler);

    // While loading nothing starts; Loaded starts a monitor stored active.
    void BeginLoading() { m_loading = true; }
    void Loaded();

    virtual void Refresh();
    virtual void Start();
    virtual void Stop();

    TkitFolderMonitorThread* Thread() const { return m_thread.get(); }
    std::string LastError() const { return m_thread ? m_thread->LastError() : std::string(); }

private:
    bool m_active = false;
    std::string m_folder = "/";
    TFolderMonitorFilters m_notifyFilters = fmfFileNameChange | fmfDirNameChange;
    bool m_watchSubTree = true;
    ThreadMethod m_onChange;
    bool m_loading = false;
    std::unique_ptr<TkitFolderMonitorThread> m_thread;
};

class TkitFolderMonitor : public TkitCustomFolderMonitor
{
    Q_OBJECT
public:
    using TkitCustomFolderMonitor::TkitCustomFolderMonitor;
};

} // namespace morvane
