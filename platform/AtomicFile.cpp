#include "platform/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

constexpr std::string_view kStageSuffix = ".part";
constexpr std::size_t kStageRandom = 6;
constexpr int kNameAttempts = 16;

// Random letters for staging names. No state per thread: the agent runs thousands of
// watch threads, and a generator in each would cost more memory than the rest of them.
// A failed read (no entropy yet, an old kernel) falls back to a shared counter mixed
// with the time; names only need to differ, the retry on EEXIST covers a clash.
void RandomBytes(unsigned char* out, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(out + done, size - done, GRND_NONBLOCK);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (done == size)
        return;
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = counter.fetch_add(0x9E3779B97F4A7C15ULL, std::memory_order_relaxed) ^
                      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (; done < size; ++done) {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDULL;
        x ^= x >> 29;
        out[done] = static_cast<unsigned char>(x);
    }
}

bool IsAlnum(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The part of name a staging name carries: all of it, or as much as keeps the staging
// name within NAME_MAX without splitting a UTF-8 character.
std::string_view NamePart(std::string_view name)
{
    std::size_t keep = std::min<std::size_t>(name.size(), NAME_MAX - 2 - kStageRandom - kStageSuffix.size());
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep);
}

std::string StageName(std::string_view name)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string stage = "." + std::string(NamePart(name)) + ".";
    unsigned char bytes[kStageRandom];
    RandomBytes(bytes, sizeof bytes);
    for (unsigned char b : bytes)
        stage += kLetters[b % (sizeof kLetters - 1)];
    stage += kStageSuffix;
    return stage;
}

// Moves the file from (fromDir, name) to (toDir, name) without replacing anything there;
// EEXIST when something is. fromGone tells whether the file left its old name.
int PlaceWithoutReplacing(int fromDir, int toDir, const std::string& name, bool& fromGone)
{
    if (::renameat2(fromDir, name.c_str(), toDir, name.c_str(), RENAME_NOREPLACE) == 0) {
        fromGone = true;
        return 0;
    }
    if (errno == EEXIST || (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP))
        return errno;
    // A file system without the no-replace rename: a hard link fails on an existing name.
    if (::linkat(fromDir, name.c_str(), toDir, name.c_str(), 0) == 0)
        return 0; // the staged name is removed with its folder
    if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS))
        return errno;
    // Neither (FAT and the like): test, then rename. Only our writers make names in the
    // folders that take such files, so the gap between the two is not contended.
    struct stat st = {};
    if (::fstatat(toDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (::renameat(fromDir, name.c_str(), toDir, name.c_str()) != 0)
        return errno;
    fromGone = true;
    return 0;
}

// Whether an unnamed file can be given a name: through its entry in /proc, which the
// kernel offers without any privilege. Checked once; the answer never changes.
bool UnnamedFilesLinkable()
{
    static const bool linkable = ::access("/proc/self/fd", X_OK) == 0;
    return linkable;
}

} // namespace

bool IsStagingName(std::string_view entry)
{
    // "." + at least one character + "." + the random letters + the suffix.
    const std::size_t tail = 1 + kStageRandom + kStageSuffix.size();
    if (entry.size() < 2 + tail || entry.front() != '.' || !entry.ends_with(kStageSuffix))
        return false;
    const std::string_view random =
        entry.substr(entry.size() - kStageSuffix.size() - kStageRandom, kStageRandom);
    return entry[entry.size() - tail] == '.' && std::all_of(random.begin(), random.end(), IsAlnum);
}

bool IsStagingNameFor(std::string_view entry, std::string_view name)
{
    const std::string_view part = NamePart(name);
    return IsStagingName(entry) && entry.size() == 1 + part.size() + 1 + kStageRandom + kStageSuffix.size() &&
           entry.substr(1, part.size()) == part;
}

bool IsCopyLeftover(const std::string& folder, const std::string& name)
{
    if (!IsStagingName(name))
        return false;
    const std::string path = folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveCopyLeftover(const std::string& path)
{
    OwnedFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.Valid())
        return false;
    std::vector<std::string> files;
    {
        DIR* listing = ::fdopendir(::dup(dir.Get()));
        if (!listing)
            return false;
        bool foreign = false;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st = {};
            if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
                foreign = true;
            files.push_back(name);
        }
        ::closedir(listing);
        if (foreign)
            return false;
    }
    for (const std::string& name : files)
        ::unlinkat(dir.Get(), name.c_str(), 0);
    // The folder it lay in keeps its time: a version folder's time tells the version's age.
    const std::size_t slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat before = {};
    const bool timed = ::stat(parent.c_str(), &before) == 0;
    if (::rmdir(path.c_str()) != 0)
        return false;
    if (timed) {
        const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        ::utimensat(AT_FDCWD, parent.c_str(), times, 0);
    }
    return true;
}

int AtomicFile::Begin(const std::string& target, Staging staging)
{
    Discard();
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        return EISDIR;
    OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid())
        return errno;
    if (staging == Staging::Unnamed && UnnamedFilesLinkable()) {
        OwnedFd fd(::openat(dir.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (fd.Valid()) {
            m_folder = std::move(dir);
            m_target = target;
            m_name = name;
            m_fd = std::move(fd);
            m_unnamed = true;
            return 0;
        }
        // A file system without unnamed files says so in one of these ways; any other
        // failure (no right to write, no space) is the folder's and is reported.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    m_folder = std::move(dir);
    m_target = target;
    m_name = name;
    if (const int err = MakeStage()) {
        Discard();
        return err;
    }
    OwnedFd fd(::openat(m_stage.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.Valid() && errno == EACCES && ::fchmodat(m_folder.Get(), m_stageName.c_str(), 0700, 0) == 0)
        fd.Reset(::openat(m_stage.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        const int err = errno;
        Discard();
        return err;
    }
    m_fd = std::move(fd);
    m_tempThere = true;
    return 0;
}

int AtomicFile::MakeStage()
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string stageName = StageName(m_name);
        if (::mkdirat(m_folder.Get(), stageName.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        m_stageName = stageName;
        OwnedFd stage(
            ::openat(m_folder.Get(), stageName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // An umask that takes the owner's own rights leaves a folder we cannot use.
        if (!stage.Valid() && errno == EACCES && ::fchmodat(m_folder.Get(), stageName.c_str(), 0700, 0) == 0)
            stage.Reset(
                ::openat(m_folder.Get(), stageName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!stage.Valid())
            return errno;
        m_stage = std::move(stage);
        return 0;
    }
    return EEXIST;
}

int AtomicFile::Write(std::string_view bytes)
{
    if (!m_fd.Valid())
        return EBADF;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int AtomicFile::Rewind()
{
    if (!m_fd.Valid())
        return EBADF;
    if (::ftruncate(m_fd.Get(), 0) != 0 || ::lseek(m_fd.Get(), 0, SEEK_SET) != 0)
        return errno;
    return 0;
}

int AtomicFile::Commit(Placement placement, mode_t mode, Durability durability)
{
    const bool flush = durability == Durability::AtCommit;
    if (!m_fd.Valid() || (!m_tempThere && !m_unnamed))
        return EBADF;
    int err = 0;
    // The mode is set on the descriptor: the umask applied at creation plays no part.
    if (::fchmod(m_fd.Get(), mode) != 0 || (flush && ::fsync(m_fd.Get()) != 0) ||
        ::fstat(m_fd.Get(), &m_written) != 0)
        err = errno;
    else if (m_unnamed)
        err = NameUnnamed(placement);
    // close() is checked: some file systems report a failed write only there. The staged
    // file is still in its folder then and goes with it; an unnamed file was named just
    // now, by us, and that name goes again.
    if (err == 0 && ::close(m_fd.Release()) != 0) {
        err = errno;
        if (m_unnamed && !m_tempThere)
            ::unlinkat(m_folder.Get(), m_name.c_str(), 0);
    } else if (err == 0 && m_tempThere) {
        err = PlaceStaged(placement);
    }
    if (err == 0 && flush) {
        // The new name is in place; a failed flush of the folder cannot undo it and is
        // not worth reporting as a failed write.
        ::fsync(m_folder.Get());
    }
    Discard();
    return err;
}

int AtomicFile::NameUnnamed(Placement placement)
{
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd.Get());
    // A link fails on an existing name, which is what no-replace asks for.
    if (placement == Placement::NoReplace)
        return ::linkat(AT_FDCWD, self.c_str(), m_folder.Get(), m_name.c_str(), AT_SYMLINK_FOLLOW) == 0
                   ? 0
                   : errno;
    // A replacement is one rename, so the file first gets a name in a staging folder.
    if (const int err = MakeStage())
        return err;
    if (::linkat(AT_FDCWD, self.c_str(), m_stage.Get(), m_name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    m_tempThere = true;
    return 0;
}

int AtomicFile::PlaceStaged(Placement placement)
{
    if (placement == Placement::Replace) {
        if (::renameat(m_stage.Get(), m_name.c_str(), m_folder.Get(), m_name.c_str()) != 0)
            return errno;
        m_tempThere = false;
        return 0;
    }
    bool moved = false;
    const int err = PlaceWithoutReplacing(m_stage.Get(), m_folder.Get(), m_name, moved);
    if (moved)
        m_tempThere = false;
    return err;
}

void AtomicFile::Discard()
{
    if (m_tempThere && m_stage.Valid())
        ::unlinkat(m_stage.Get(), m_name.c_str(), 0);
    m_tempThere = false;
    if (!m_stageName.empty() && m_folder.Valid())
        ::unlinkat(m_folder.Get(), m_stageName.c_str(), AT_REMOVEDIR);
    m_stageName.clear();
    // An unnamed file goes with its last descriptor.
    m_unnamed = false;
    m_fd.Reset();
    m_stage.Reset();
    m_folder.Reset();
}

mode_t ModeForReplacing(const std::string& path, mode_t newMode)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return newMode;
}

int WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newMode)
{
    AtomicFile file;
    int err = file.Begin(path);
    if (err == 0)
        err = file.Write(bytes);
    if (err == 0)
        err = file.Commit(AtomicFile::Placement::Replace, ModeForReplacing(path, newMode));
    return err;
}

} // namespace morvane
