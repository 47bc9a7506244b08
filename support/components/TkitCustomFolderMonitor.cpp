#include "TkitCustomFolderMonitor.h"

namespace morvane {

TkitCustomFolderMonitor::TkitCustomFolderMonitor(QObject* owner) : TkitComponent(owner) {}

TkitCustomFolderMonitor::~TkitCustomFolderMonitor()
{
    m_loading = false;
    Stop();
}

void TkitCustomFolderMonitor::SetActive(bool value)
{
    m_active = value;
    Refresh();
}

void TkitCustomFolderMonitor::SetFolder(const std::string& value)
{
    if (value == m_folder)
        return;
    m_folder = value;
    Refresh();
}

void TkitCustomFolderMonitor::SetNotifyFilters(TFolderMonitorFilters value)
{
    if (value == m_notifyFilters)
        return;
    m_notifyFilters = value;
    Refresh();
}

void TkitCustomFolderMonitor::SetWatchSubTree(bool value)
{
    if (value == m_watchSubTree)
        return;
    m_watchSubTree = value;
    Refresh();
}

void TkitCustomFolderMonitor::SetOnChange(ThreadMethod handler)
{
    m_onChange = std::move(handler);
    Refresh();
}

void TkitCustomFolderMonitor::Loaded()
{
    m_loading = false;
    SetActive(m_active);
}

void TkitCustomFolderMonitor::Refresh()
{
    if (m_active)
        Start();
    else
        Stop();
}

void TkitCustomFolderMonitor::Start()
{
    Stop();
    if (m_loading || !m_active || !m_onChange)
        return;
    m_thread = std::make_unique<TkitFolderMonitorThread>(m_onChange);
    m_thread->SetParameters(m_folder, m_watchSubTree, m_notifyFilters);
    m_thread->Resume();
}

void TkitCustomFolderMonitor::Stop()
{
    if (m_loading || !m_thread)
        return;
    // Joined here, so the worker never outlives the component and reports nothing more.
    std::unique_ptr<TkitFolderMonitorThread> thread = std::move(m_thread);
    thread->Stop(true);
}

} // namespace morvane
