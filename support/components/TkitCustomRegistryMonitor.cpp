#include "TkitCustomRegistryMonitor.h"

namespace morvane {

TkitCustomRegistryMonitor::TkitCustomRegistryMonitor(QObject* owner) : TkitComponent(owner) {}

TkitCustomRegistryMonitor::~TkitCustomRegistryMonitor()
{
    m_destroying = true;
    m_loading = false;
    Stop();
}

void TkitCustomRegistryMonitor::SetActive(bool value)
{
    m_active = value;
    Refresh();
}

void TkitCustomRegistryMonitor::SetRegistryKey(const std::string& value)
{
    if (value == m_registryKey)
        return;
    m_registryKey = value;
    Refresh();
}

void TkitCustomRegistryMonitor::SetRootKey(TkitRegRootKey value)
{
    if (value == m_rootKey)
        return;
    m_rootKey = value;
    Refresh();
}

void TkitCustomRegistryMonitor::SetNotifyFilters(TkitRegistryMonitorFilters value)
{
    if (value == m_notifyFilters)
        return;
    m_notifyFilters = value;
    Refresh();
}

void TkitCustomRegistryMonitor::SetWatchSubTree(bool value)
{
    if (value == m_watchSubTree)
        return;
    m_watchSubTree = value;
    Refresh();
}

void TkitCustomRegistryMonitor::SetOnChange(ThreadMethod handler)
{
    m_onChange = std::move(handler);
    Refresh();
}

void TkitCustomRegistryMonitor::Loaded()
{
    m_loading = false;
    SetActive(m_active);
}

void TkitCustomRegistryMonitor::Refresh()
{
    if (m_active)
        Start();
    else
        Stop();
}

void TkitCustomRegistryMonitor::Start()
{
    Stop();
    if (m_loading || m_destroying || !m_active || !m_onChange)
        return;
    m_thread = std::make_unique<TkitRegistryMonitorThread>(m_onChange);
    m_thread->SetParameters(m_rootKey, m_registryKey, m_notifyFilters, m_watchSubTree);
    m_thread->Resume();
}

void TkitCustomRegistryMonitor::Stop()
{
    if (m_loading || !m_thread)
        return;
    // Joined here, so the worker never outlives the component and reports nothing more.
    std::unique_ptr<TkitRegistryMonitorThread> thread = std::move(m_thread);
    thread->Stop(true);
}

} // namespace morvane
