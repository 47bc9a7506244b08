#include "platform/IniCache.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// Far beyond any settings or item list file; a larger one is treated as unreadable rather
// than exhausting memory.
constexpr std::int64_t kMaxFileSize = std::int64_t(512) << 20;

bool ReadAll(int fd, std::string& out)
{
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (static_cast<std::int64_t>(out.size()) + n > kMaxFileSize)
            return false;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

// Opens, reads and parses path. Only regular files are opened for reading; O_NONBLOCK keeps
// a FIFO in its place from blocking the open.
std::shared_ptr<const IniSnapshot> Load(const std::string& path, IniLoadResult& result)
{
    OwnedFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    const int fd = file.Get();
    if (fd < 0) {
        result = (errno == ENOENT || errno == ENOTDIR) ? IniLoadResult::Missing : IniLoadResult::Unreadable;
        return nullptr;
    }
    std::string text;
    // A writer that changes the file in place while we read it would leave text and
    // signature out of step: read again until they agree.
    for (int attempt = 0; attempt < 5; ++attempt) {
        struct stat before = {};
        struct stat after = {};
        if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode) || before.st_size > kMaxFileSize)
            break;
        text.reserve(static_cast<std::size_t>(before.st_size));
        if (::lseek(fd, 0, SEEK_SET) != 0 || !ReadAll(fd, text) || ::fstat(fd, &after) != 0)
            break;
        if (IniFileSignature::Of(before) == IniFileSignature::Of(after) &&
            static_cast<std::int64_t>(text.size()) == static_cast<std::int64_t>(after.st_size)) {
            result = IniLoadResult::Loaded;
            return std::make_shared<const IniSnapshot>(IniDocument::Parse(text), IniFileSignature::Of(after),
                                                       std::move(file));
        }
    }
    result = IniLoadResult::Unreadable;
    return nullptr;
}

} // namespace

IniFileSignature IniFileSignature::Of(const struct stat& st)
{
    IniFileSignature sig;
    sig.Device = static_cast<std::uint64_t>(st.st_dev);
    sig.Inode = static_cast<std::uint64_t>(st.st_ino);
    sig.Size = static_cast<std::int64_t>(st.st_size);
    sig.MtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return sig;
}

IniSnapshot::IniSnapshot(IniDocument doc, const IniFileSignature& sig, OwnedFd fd)
    : m_doc(std::move(doc)), m_sig(sig), m_fd(std::move(fd))
{
}

IniCache& IniCache::Instance()
{
    static IniCache cache;
    return cache;
}

std::shared_ptr<const IniSnapshot> IniCache::Empty()
{
    static const std::shared_ptr<const IniSnapshot> empty = std::make_shared<const IniSnapshot>();
    return empty;
}

std::shared_ptr<const IniSnapshot>
IniCache::Get(const std::string& path, const std::shared_ptr<const IniSnapshot>& hint, IniLoadResult* result)
{
    IniLoadResult ignored;
    IniLoadResult& res = result ? *result : ignored;
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0) {
        res = (errno == ENOENT || errno == ENOTDIR) ? IniLoadResult::Missing : IniLoadResult::Unreadable;
        return Empty();
    }
    const IniFileSignature sig = IniFileSignature::Of(st);
    res = IniLoadResult::Loaded;
    if (hint && hint->Exists() && hint->Signature() == sig)
        return hint;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(path);
        if (it != m_entries.end() && it->second.Snapshot->Signature() == sig) {
            it->second.LastUse = ++m_clock;
            return it->second.Snapshot;
        }
    }
    auto loaded = Load(path, res);
    if (!loaded)
        return Empty();
    Put(path, loaded);
    return loaded;
}

void IniCache::Put(const std::string& path, std::shared_ptr<const IniSnapshot> snapshot)
{
    // Declared ahead of the lock so that the files they hold are closed after it is released.
    std::shared_ptr<const IniSnapshot> replaced;
    std::shared_ptr<const IniSnapshot> evicted;
    std::lock_guard lock(m_mutex);
    Entry& entry = m_entries[path];
    replaced = std::move(entry.Snapshot);
    entry.Snapshot = std::move(snapshot);
    entry.LastUse = ++m_clock;
    if (m_entries.size() > kMaxEntries) {
        auto oldest = m_entries.begin();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->second.LastUse < oldest->second.LastUse)
                oldest = it;
        }
        if (oldest->first != path) {
            evicted = std::move(oldest->second.Snapshot);
            m_entries.erase(oldest);
        }
    }
}

void IniCache::Clear()
{
    std::map<std::string, Entry> dropped;
    std::lock_guard lock(m_mutex);
    dropped.swap(m_entries);
}

} // namespace morvane
