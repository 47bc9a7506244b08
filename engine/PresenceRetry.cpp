#include "engine/PresenceRetry.h"

#include "engine/TRKMonItem.h"
#include "platform/DirListing.h"

namespace morvane {

PresenceRetry::PresenceRetry(std::vector<std::shared_ptr<TRKMonItem>> items, Done done)
{
    m_thread = std::thread([this, items = std::move(items), done = std::move(done)]() mutable {
        Run(std::move(items), std::move(done));
    });
}

PresenceRetry::~PresenceRetry()
{
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

void PresenceRetry::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
}

bool PresenceRetry::Present(const TRKMonItem& item)
{
    const std::string path = item.Path();
    return item.IsFolder() ? DirectoryExists(path) : FileExists(path);
}

void PresenceRetry::Run(std::vector<std::shared_ptr<TRKMonItem>> items, Done done)
{
    std::vector<bool> found(items.size(), false);
    std::size_t missing = items.size();
    for (int wait = 0; wait < kWaits && missing > 0; ++wait) {
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_for(lock, kStep, [this] { return m_stop; }))
                return;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!found[i] && Present(*items[i])) {
                found[i] = true;
                --missing;
            }
        }
    }
    // Only weak references leave this thread: a verdict that comes too late finds the
    // items gone and does nothing.
    std::vector<std::weak_ptr<TRKMonItem>> weak(items.begin(), items.end());
    items.clear();
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
    }
    done(std::move(weak), std::move(found));
}

} // namespace morvane
