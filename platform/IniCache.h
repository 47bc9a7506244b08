#pragma once

#include "platform/IniDocument.h"
#include "platform/OwnedFd.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct stat;

namespace morvane {

// What identifies one state of a file on disk.
struct IniFileSignature
{
    static IniFileSignature Of(const struct stat& st);

    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t Size = -1;
    std::int64_t MtimeNs = 0;
    bool operator==(const IniFileSignature&) const = default;
};

// One parsed state of a file. It keeps the file open so that its inode number cannot be
// handed to a new file while the snapshot lives: a file rewritten within one timestamp tick
// with the same size would otherwise look unchanged.
class IniSnapshot
{
public:
    IniSnapshot() = default;
    IniSnapshot(IniDocument doc, const IniFileSignature& sig, OwnedFd fd);

    const IniDocument& Doc() const { return m_doc; }
    const IniFileSignature& Signature() const { return m_sig; }
    // False for a missing file (an empty document).
    bool Exists() const { return m_fd.Valid(); }

private:
    IniDocument m_doc;
    IniFileSignature m_sig;
    OwnedFd m_fd;
};

enum class IniLoadResult
{
    Loaded,
    Missing,
    Unreadable, // not a regular file, no permission, too large, read error
};

// Per-process cache of parsed INI files, keyed by path. A lookup stats the path and hands
// out the cached parse while the signature matches, so a file is parsed once however many
// keys are read. Any thread; one mutex guards the map and no I/O happens under it.
class IniCache
{
public:
    static IniCache& Instance();

    // The current state of path. A missing or unreadable file gives an empty snapshot
    // (result tells which). hint is a snapshot the caller already holds; it is returned
    // as is when the file still matches it.
    std::shared_ptr<const IniSnapshot> Get(const std::string& path,
                                           const std::shared_ptr<const IniSnapshot>& hint,
                                           IniLoadResult* result = nullptr);
    void Put(const std::string& path, std::shared_ptr<const IniSnapshot> snapshot);
    void Clear();

    static std::shared_ptr<const IniSnapshot> Empty();

private:
    struct Entry
    {
        std::shared_ptr<const IniSnapshot> Snapshot;
        std::uint64_t LastUse = 0;
    };
    // Bounded because every entry holds a descriptor open.
    static constexpr std::size_t kMaxEntries = 32;

    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
    std::uint64_t m_clock = 0;
};

} // namespace morvane
