#include "TkitFolderMonitorThread.h"

#include "platform/Log.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace morvane {

namespace {

// Every folder monitor of the process sets up and changes its watch under this lock,
// held only for those short steps, never during a wait.
std::mutex& FolderMonitorLock()
{
    static std::mutex lock;
    return lock;
}

bool IsBlank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' '; });
}

} // namespace

TkitFolderMonitorThread::TkitFolderMonitorThread(ChangeHandler onChange)
    : KitThread(true), m_reporter(std::move(onChange))
{
}

TkitFolderMonitorThread::~TkitFolderMonitorThread()
{
    Stop(true);
}

void TkitFolderMonitorThread::SetParameters(const std::string& folder, bool watchSubTree,
                                            unsigned notifyFilter)
{
    {
        std::lock_guard guard(FolderMonitorLock());
        std::error_code ec;
        m_folder = IsBlank(folder) ? std::filesystem::current_path(ec).string() : folder;
        m_watchSubTree = watchSubTree;
        m_notifyFilter = notifyFilter;
        m_restart = true;
        if (m_watch)
            m_watch->RequestStop();
    }
    WakeUp();
}

void TkitFolderMonitorThread::Terminate()
{
    m_reporter.Close();
    {
        std::lock_guard guard(FolderMonitorLock());
        if (m_watch)
            m_watch->RequestStop();
    }
    KitThread::Terminate();
}

std::string TkitFolderMonitorThread::Folder() const
{
    std::lock_guard guard(FolderMonitorLock());
    return m_folder;
}

std::string TkitFolderMonitorThread::LastError() const
{
    std::lock_guard guard(FolderMonitorLock());
    return m_lastError;
}

void TkitFolderMonitorThread::SetError(const std::string& error)
{
    if (!error.empty())
        Log("Folder monitor: " + error);
    std::lock_guard guard(FolderMonitorLock());
    m_lastError = error;
}

bool TkitFolderMonitorThread::Publish(ChangeNotification* watch)
{
    std::lock_guard guard(FolderMonitorLock());
    m_watch = watch;
    if (watch && (m_restart || Terminated())) {
        m_watch = nullptr;
        return false;
    }
    return true;
}

bool TkitFolderMonitorThread::Watching() const
{
    std::lock_guard guard(FolderMonitorLock());
    return m_watch != nullptr;
}

void TkitFolderMonitorThread::Execute()
{
    std::optional<ChangeNotification> watch;
    bool needWatch = true;
    // A change seen, to be reported once the new watch is in place.
    bool reportDue = false;
    while (!Terminated()) {
        if (needWatch) {
            std::string folder;
            bool subTree;
            unsigned filter;
            {
                std::lock_guard guard(FolderMonitorLock());
                folder = m_folder;
                subTree = m_watchSubTree;
                filter = m_notifyFilter;
                m_restart = false;
            }
            needWatch = false;
            Publish(nullptr);
            try {
                // The new watch is set before the old one goes, so nothing in between is lost.
                std::optional<ChangeNotification> fresh(ChangeNotification::ForTree(folder, subTree, filter));
                if (watch &&
                    watch->Wait(std::chrono::milliseconds(0)) == ChangeNotification::WaitResult::Changed)
                    reportDue = true;
                watch = std::move(fresh);
                SetError({});
            } catch (const std::system_error& e) {
                watch.reset();
                SetError(e.what());
            }
            if (std::exchange(reportDue, false) && !Terminated())
                m_reporter.Report();
            if (!Publish(watch ? &*watch : nullptr)) {
                needWatch = true;
                continue;
            }
        }
        if (!watch) {
            Sleep(std::chrono::milliseconds(-1));
            std::lock_guard guard(FolderMonitorLock());
            needWatch = m_restart;
            continue;
        }
        switch (watch->Wait()) {
        case ChangeNotification::WaitResult::Changed: {
            // Let a burst settle, so that it gives one report.
            auto result = ChangeNotification::WaitResult::Changed;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (result == ChangeNotification::WaitResult::Changed &&
                   std::chrono::steady_clock::now() < deadline)
                result = watch->Wait(kSettle);
            std::lock_guard guard(FolderMonitorLock());
            // New subfolders need watches of their own; a stop request needs a new watch.
            needWatch = m_watchSubTree || m_restart || result == ChangeNotification::WaitResult::Stopped ||
                        result == ChangeNotification::WaitResult::Failed;
            // With a new watch to make, the report waits for it: what the handler does
            // next in a new subfolder is then seen.
            reportDue = true;
            break;
        }
        case ChangeNotification::WaitResult::Stopped: {
            std::lock_guard guard(FolderMonitorLock());
            needWatch = m_restart;
            break;
        }
        case ChangeNotification::WaitResult::Failed:
            Publish(nullptr);
            watch.reset();
            SetError("the folder " + Folder() + " is no longer there to watch");
            break;
        case ChangeNotification::WaitResult::Timeout:
            break;
        }
        if (!needWatch && std::exchange(reportDue, false) && !Terminated())
            m_reporter.Report();
    }
    Publish(nullptr);
}

} // namespace morvane
