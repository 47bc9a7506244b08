#include "platform/RegistryChangeNotification.h"

#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <cerrno>
#include <sys/stat.h>

namespace morvane {

namespace {

void MakeFolders(const std::string& folder)
{
    std::string part;
    for (std::size_t i = 0; i < folder.size(); ++i) {
        part += folder[i];
        if (folder[i] == kPathSep && part.size() > 1 && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            ThrowSystemError(errno, "cannot create folder " + part);
    }
}

} // namespace

RegistryChangeNotification::RegistryChangeNotification(std::string storePath, RegistryRoot root,
                                                       std::string key, bool watchSubtree, unsigned filter)
    : m_store(std::move(storePath)), m_root(root), m_key(std::move(key)), m_subtree(watchSubtree),
      m_filter(filter)
{
    const std::string folder = FolderPart(m_store.Path());
    MakeFolders(folder);
    // The store is replaced by a rename on every write: only its folder can be watched.
    m_watch = std::make_unique<ChangeNotification>(folder.empty() ? std::string(".") : folder);
    m_armed = State();
}

std::string RegistryChangeNotification::State() const
{
    std::string state;
    if (m_filter & kRegNotifyChangeName)
        state += m_store.NamesFingerprint(m_root, m_key, m_subtree);
    state += '\x1f';
    if (m_filter & kRegNotifyChangeLastSet)
        state += m_store.ValuesFingerprint(m_root, m_key, m_subtree);
    return state;
}

void RegistryChangeNotification::Rearm()
{
    m_watch->Drain();
    m_armed = State();
}

void RegistryChangeNotification::RequestStop()
{
    m_watch->RequestStop();
}

RegistryChangeNotification::WaitResult RegistryChangeNotification::Wait(std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = timeout.count() < 0;
    const Clock::time_point deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        std::chrono::milliseconds left(-1);
        if (!forever)
            left = std::max(std::chrono::milliseconds(0),
                            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        const WaitResult result = m_watch->Wait(left);
        if (result != WaitResult::Changed)
            return result;
        std::string now = State();
        if (now != m_armed) {
            m_armed = std::move(now);
            return WaitResult::Changed;
        }
        if (!forever && Clock::now() >= deadline)
            return WaitResult::Timeout;
    }
}

} // namespace morvane
