#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace morvane {

// A named block of shared memory: the file R/<name>.shm mapped MAP_SHARED. Every holder
// keeps a shared flock on the file, so "exists" means another live process holds it.
// Create and open are serialised by R/<name>.guard. Move-only owner; unmaps on destruction.
class NamedMapping
{
public:
    // Creates the mapping, or joins it when another live process holds it (existed=true,
    // contents kept). A mapping that nobody held is zero-filled. The file is grown to size
    // when smaller, never shrunk; Size() is the whole mapped size. Throws std::system_error.
    static NamedMapping Create(const std::string& name, std::size_t size, bool* existed = nullptr);

    // Create, with a step that runs on the mapped bytes (joined: an existing mapping was
    // joined) before any other process can open the mapping or test its presence. When the
    // step returns false nothing is kept and the result is empty. So a holder can take what
    // makes it the owner (its mutex) and clear what a dead owner left, as one step to others.
    using Claim = std::function<bool(void* data, std::size_t size, bool joined)>;
    static std::optional<NamedMapping> CreateClaimed(const std::string& name, std::size_t size,
                                                     const Claim& claim, bool* existed = nullptr);

    // Maps the mapping only when another live process holds it; never creates anything.
    // When requireMutex is not empty, the mutex of that name must also be held by a live
    // process (so a monitor's own hold never makes a dead agent look alive).
    static std::optional<NamedMapping> OpenExisting(const std::string& name,
                                                    const std::string& requireMutex = {});

    // True when a live process holds the mapping (and requireMutex, when given, is held).
    // A hold of this very process counts too; requireMutex tells a live owner from that.
    // Creates nothing.
    static bool Exists(const std::string& name, const std::string& requireMutex = {});

    // How often a mapping of this process was found cut short by another program and its
    // file grown back to the mapped size (the cut part then reads as zeros). A holder that
    // sees this change sets its block up again.
    static unsigned RegrownCount();

    NamedMapping(NamedMapping&& other) noexcept;
    NamedMapping& operator=(NamedMapping&& other) noexcept;
    NamedMapping(const NamedMapping&) = delete;
    NamedMapping& operator=(const NamedMapping&) = delete;
    ~NamedMapping();

    void* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

private:
    NamedMapping(int fd, void* data, std::size_t size) : m_fd(fd), m_data(data), m_size(size) {}
    int m_fd = -1;
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace morvane
