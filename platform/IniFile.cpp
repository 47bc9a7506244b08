#include "platform/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/IniCache.h"
#include "platform/IniDocument.h"
#include "platform/OleDate.h"
#include "platform/OwnedFd.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane {

namespace {

std::string TrimKey(const std::string& key)
{
    return std::string(TrimIniBlanks(key));
}

constexpr std::string_view kLineBreaks("\r\n\0", 3);

void CheckSection(const std::string& section)
{
    if (section.find_first_of(kLineBreaks) != std::string::npos)
        throw std::invalid_argument("INI section name holds a line break: " + section);
}

// Returns the trimmed key. A key must survive a round trip through the file: no "=", no
// line break, and it must not read as a header or a comment.
std::string CheckedKey(const std::string& key)
{
    std::string trimmed = TrimKey(key);
    if (trimmed.empty() || trimmed.find_first_of(kLineBreaks) != std::string::npos ||
        trimmed.find('=') != std::string::npos || trimmed.front() == '[' || trimmed.front() == ';')
        throw std::invalid_argument("INI key name is not storable: " + key);
    return trimmed;
}

void CheckValue(const std::string& value)
{
    if (value.find_first_of(kLineBreaks) != std::string::npos)
        throw std::invalid_argument("INI value holds a line break");
}

// Decimal with an optional sign, or hexadecimal after 0x/0X when the text is longer than
// those two characters; hexadecimal takes the 32 bits as they stand (0xFFFFFFFF is -1).
std::optional<int> ParseInteger(const std::string& text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t v = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + static_cast<std::uint64_t>(digit);
            if (v > 0xFFFFFFFFull)
                return std::nullopt;
        }
        return static_cast<int>(static_cast<std::uint32_t>(v));
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return std::nullopt;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > std::int64_t(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX || v < INT_MIN)
        return std::nullopt;
    return static_cast<int>(v);
}

} // namespace

IniWriteError::IniWriteError(const std::string& path, int error)
    : std::runtime_error("Unable to write to " + path), m_path(path), m_error(error)
{
}

struct IniFile::Impl
{
    struct Op
    {
        enum Kind
        {
            Set,
            Delete,
            Erase
        } What;
        const std::string* Section; // the key of its Overlay entry
        std::string Key;
        std::string Value; // as it goes into the file
    };
    // What reads must see of this object's unwritten changes, per section.
    struct Pending
    {
        bool Erased = false;  // the section was erased; keys from the file no longer count
        bool Written = false; // a key was set since (or without) an erase: the header exists
        // Key (viewing an Op's key) -> index of its last Set in Ops, or -1 when deleted.
        std::unordered_map<std::string_view, std::ptrdiff_t, IniKeyHash, IniKeyEqual> Keys;
    };

    // A deque, so that the keys Overlay views never move. Many records are written through one
    // object before one flush: each change costs one entry here and one in Overlay.
    std::deque<Op> Ops;
    std::unordered_map<std::string, Pending> Overlay;
    // The file state seen last; handed back to the cache as a hint so an unchanged file costs
    // one stat per read.
    std::shared_ptr<const IniSnapshot> Snapshot;
    // The file with Ops applied, for listings, and how much of Ops it holds.
    std::optional<IniDocument> Merged;
    std::shared_ptr<const IniSnapshot> MergedBase;
    std::size_t MergedOps = 0;

    // Open ReadScopes, and whether Snapshot has been checked since the outermost began.
    int Scopes = 0;
    bool Checked = false;

    const IniSnapshot& Current(const std::string& path)
    {
        if (Checked && Snapshot)
            return *Snapshot;
        Snapshot = IniCache::Instance().Get(path, Snapshot);
        Checked = Scopes > 0;
        return *Snapshot;
    }

    static void Apply(IniDocument& doc, const Op& op)
    {
        switch (op.What) {
        case Op::Set:
            doc.Set(*op.Section, op.Key, op.Value);
            break;
        case Op::Delete:
            doc.DeleteKey(*op.Section, op.Key);
            break;
        case Op::Erase:
            doc.EraseSection(*op.Section);
            break;
        }
    }

    const IniDocument& View(const std::string& path)
    {
        const IniSnapshot& base = Current(path);
        if (Ops.empty())
            return base.Doc();
        if (!Merged || MergedBase != Snapshot || MergedOps > Ops.size()) {
            Merged = base.Doc();
            MergedBase = Snapshot;
            MergedOps = 0;
        }
        for (; MergedOps < Ops.size(); ++MergedOps)
            Apply(*Merged, Ops[MergedOps]);
        return *Merged;
    }

    std::optional<std::string> Value(const std::string& path, const std::string& section,
                                     const std::string& key)
    {
        const auto pending = Overlay.find(section);
        if (pending != Overlay.end()) {
            const auto k = pending->second.Keys.find(key);
            if (k != pending->second.Keys.end()) {
                if (k->second < 0)
                    return std::nullopt;
                return IniDocument::DecodeValue(Ops[static_cast<std::size_t>(k->second)].Value);
            }
            if (pending->second.Erased)
                return std::nullopt;
        }
        const auto raw = Current(path).Doc().RawValue(section, key);
        if (!raw)
            return std::nullopt;
        return IniDocument::DecodeValue(*raw);
    }

    void Record(Op::Kind what, const std::string& section, std::string key, std::string value)
    {
        auto& [name, pending] = *Overlay.try_emplace(section).first;
        const auto index = static_cast<std::ptrdiff_t>(Ops.size());
        const Op& op = Ops.emplace_back(Op{what, &name, std::move(key), std::move(value)});
        switch (what) {
        case Op::Set:
            pending.Written = true;
            pending.Keys[op.Key] = index;
            break;
        case Op::Delete:
            pending.Keys[op.Key] = -1;
            break;
        case Op::Erase:
            pending.Erased = true;
            pending.Written = false;
            pending.Keys.clear();
            break;
        }
    }

    void WriteOut(const std::string& path);
};

void IniFile::Impl::WriteOut(const std::string& path)
{
    // Write through a symbolic link to the file it names rather than replace the link.
    std::string target = path;
    struct stat linkStat = {};
    if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        throw IniWriteError(path, EISDIR);

    // Writers of every file in the folder take turns on the folder's lock. The folder, unlike
    // the file, is never replaced, and locking it needs no extra file beside each INI file.
    OwnedFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0)
        throw IniWriteError(path, errno);
    while (::flock(dirFd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            break; // a file system without flock still gets the atomic replacement
    }

    // Another writer may have changed the file since we read it: start from what is there now.
    IniLoadResult loadResult = IniLoadResult::Missing;
    const std::shared_ptr<const IniSnapshot> base = IniCache::Instance().Get(path, Snapshot, &loadResult);
    if (loadResult == IniLoadResult::Unreadable)
        throw IniWriteError(path, EIO); // rewriting what we could not read would lose it
    struct stat old = {};
    const bool exists = base->Exists() && ::stat(target.c_str(), &old) == 0;
    // Replacing the file needs only the folder's permission; honour the file's own as well.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        throw IniWriteError(path, errno);

    IniDocument doc = base->Doc();
    for (const Op& op : Ops)
        Apply(doc, op);
    const std::string text = doc.Serialize();

    // A new file holds the user's own data (the item list, settings): private, whatever
    // the umask. An existing one keeps the mode it was given.
    const mode_t mode = exists ? (old.st_mode & 07777) : 0600;
    AtomicFile out;
    int err = out.Begin(target);
    if (err == 0)
        err = out.Write(text);
    if (err == 0)
        err = out.Commit(AtomicFile::Placement::Replace, mode);
    if (err != 0)
        throw IniWriteError(path, err);
    const struct stat written = out.Written();

    // The new text is already parsed: hand it to the cache so the next read does not read it
    // back. The snapshot keeps its own read-only descriptor on the new file.
    OwnedFd reader(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat now = {};
    if (reader.Get() >= 0 && ::fstat(reader.Get(), &now) == 0 && now.st_ino == written.st_ino &&
        now.st_dev == written.st_dev) {
        auto fresh =
            std::make_shared<const IniSnapshot>(std::move(doc), IniFileSignature::Of(now), std::move(reader));
        IniCache::Instance().Put(path, fresh);
        Snapshot = std::move(fresh);
    }
}

namespace {

// Whether entry is a temporary name an earlier build gave a write of name: name ".tmp."
// pid "." 8 hex digits. Writes now stage in a folder (IsStagingNameFor).
bool IsOldWriteLeftover(const std::string& entry, const std::string& name)
{
    const std::string prefix = name + ".tmp.";
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string rest = entry.substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string::npos || rest.size() - dot - 1 != 8)
        return false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        const bool ok =
            i < dot ? (c >= '0' && c <= '9') : i == dot || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int IniFile::RemoveLeftovers(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        return 0;
    OwnedFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0)
        return 0;
    // Every write holds this lock from making its temporary file to renaming it, so what
    // is found while we hold it belongs to no write in progress.
    while (::flock(dirFd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return 0;
    }
    DIR* listing = ::fdopendir(::dup(dirFd.Get()));
    if (!listing)
        return 0;
    std::vector<std::string> found;
    while (const dirent* entry = ::readdir(listing)) {
        if (IsOldWriteLeftover(entry->d_name, name) || IsStagingNameFor(entry->d_name, name))
            found.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    int removed = 0;
    for (const std::string& entry : found) {
        struct stat st = {};
        if (::fstatat(dirFd.Get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode) ? IsStagingNameFor(entry, name) && RemoveCopyLeftover(dir + "/" + entry)
                                : S_ISREG(st.st_mode) && IsOldWriteLeftover(entry, name) &&
                                      ::unlinkat(dirFd.Get(), entry.c_str(), 0) == 0)
            ++removed;
    }
    return removed;
}

IniFile::IniFile(std::string path) : m_path(std::move(path)), m_impl(std::make_unique<Impl>()) {}

IniFile::~IniFile()
{
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report; callers that care call Flush() first.
    }
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const
{
    return m_impl->Value(m_path, section, TrimKey(key)).value_or(def);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    const auto text = m_impl->Value(m_path, section, TrimKey(key));
    if (!text)
        return def;
    return ParseInteger(*text).value_or(def);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double IniFile::ReadDate(const std::string& section, const std::string& key, double def) const
{
    const auto text = m_impl->Value(m_path, section, TrimKey(key));
    if (!text)
        return def;
    return ParseIniDate(*text).value_or(def);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    CheckSection(section);
    std::string k = CheckedKey(key);
    CheckValue(value);
    m_impl->Record(Impl::Op::Set, section, std::move(k), IniDocument::EncodeValue(value));
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteDate(const std::string& section, const std::string& key, double value)
{
    WriteString(section, key, FormatIniDate(value));
}

void IniFile::DeleteKey(const std::string& section, const std::string& key)
{
    CheckSection(section);
    std::string k = CheckedKey(key);
    m_impl->Record(Impl::Op::Delete, section, std::move(k), {});
}

void IniFile::EraseSection(const std::string& section)
{
    CheckSection(section);
    m_impl->Record(Impl::Op::Erase, section, {}, {});
}

std::vector<std::string> IniFile::ReadSections() const
{
    return m_impl->View(m_path).SectionNames();
}

std::vector<std::string> IniFile::ReadKeys(const std::string& section) const
{
    return m_impl->View(m_path).KeyNames(section);
}

bool IniFile::SectionExists(const std::string& section) const
{
    const auto pending = m_impl->Overlay.find(section);
    if (pending != m_impl->Overlay.end()) {
        if (pending->second.Written)
            return true;
        if (pending->second.Erased)
            return false;
    }
    return m_impl->Current(m_path).Doc().HasSection(section);
}

std::shared_ptr<const void> IniFile::FileState() const
{
    m_impl->Current(m_path);
    return m_impl->Snapshot;
}

void IniFile::Flush()
{
    if (m_impl->Ops.empty())
        return;
    try {
        m_impl->WriteOut(m_path);
    } catch (const IniWriteError&) {
        throw;
    } catch (const std::exception&) {
        throw IniWriteError(m_path, ENOMEM); // out of memory while building the text
    }
    // The next read looks at the file again, in a scope too: the state written may not
    // have been kept as the snapshot.
    m_impl->Checked = false;
    // Kept on failure, so that a later Flush can still write them.
    m_impl->Overlay.clear();
    m_impl->Ops.clear();
    m_impl->Merged.reset();
    m_impl->MergedBase.reset();
    m_impl->MergedOps = 0;
}

void IniFile::ClearCache()
{
    IniCache::Instance().Clear();
}

IniFile::ReadScope::ReadScope(const IniFile& file) : m_file(file)
{
    ++m_file.m_impl->Scopes;
}

IniFile::ReadScope::~ReadScope()
{
    if (--m_file.m_impl->Scopes == 0)
        m_file.m_impl->Checked = false;
}

} // namespace morvane
