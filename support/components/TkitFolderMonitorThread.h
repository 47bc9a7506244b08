#pragma once

#include "KitThread.h"
#include "platform/ChangeNotification.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace morvane {

// Watches a folder (and, with WatchSubTree, every folder below it) and calls OnChange on
// the main thread when something the filter selects changes. A burst of changes gives
// one call: changes that arrive while a call is still queued, or within a short settling
// time, join it. Created suspended; SetParameters, then Resume. Terminate wakes the
// worker at once, and no OnChange runs once Terminate has been called on the main
// thread. A folder that cannot be watched reports nothing: LastError says why (also
// logged), and the worker idles until new parameters or the end.
class TkitFolderMonitorThread : public KitThread
{
public:
    using ChangeHandler = std::function<void()>;

    // How long a burst may pause before it is reported.
    static constexpr std::chrono::milliseconds kSettle{30};

    explicit TkitFolderMonitorThread(ChangeHandler onChange);
    ~TkitFolderMonitorThread() override;

    // A blank folder means the current directory. notifyFilter combines
    // ChangeNotification's kinds. A running worker starts over with the new values. Any
    // thread.
    void SetParameters(const std::string& folder, bool watchSubTree, unsigned notifyFilter);
    void Terminate() override;

    std::string Folder() const;
    // True while the worker's watch for the current parameters is set up: a change made
    // from then on is reported. Any thread.
    bool Watching() const;
    // Empty while the folder is watched.
    std::string LastError() const;

protected:
    void Execute() override;

private:
    void SetError(const std::string& error);
    // Publishes the watch the worker waits on, so a restart or a stop can wake it.
    // False when a restart or a stop came first.
    bool Publish(ChangeNotification* watch);

    ChangeReporter m_reporter;
    std::string m_folder;
    bool m_watchSubTree = false;
    unsigned m_notifyFilter = ChangeNotification::kAllChanges;
    bool m_restart = false;
    ChangeNotification* m_watch = nullptr;
    std::string m_lastError;
};

} // namespace morvane
