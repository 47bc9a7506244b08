#include "platform/FileCopy.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane {

namespace {

constexpr std::size_t kChunk = 1024 * 1024;
constexpr std::string_view kTempSuffix = ".part";
constexpr std::string_view kTempRandom = ".XXXXXX";

// Owns one descriptor.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

// A temporary file that is removed unless it was given its final name.
class TempFile
{
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    // Creates "." + name + random + ".part" in folder; false leaves errno set.
    bool Create(const std::string& folder, const std::string& name)
    {
        // Keep the temporary name within NAME_MAX, without splitting a UTF-8 character.
        std::size_t keep =
            std::min<std::size_t>(name.size(), NAME_MAX - 1 - kTempRandom.size() - kTempSuffix.size());
        while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        std::string pattern = folder + "." + name.substr(0, keep);
        pattern += kTempRandom;
        pattern += kTempSuffix;
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const int fd = ::mkostemps(buffer.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC);
        if (fd < 0)
            return false;
        m_fd = Fd(fd);
        m_path = buffer.data();
        return true;
    }
    int Get() const { return m_fd.Get(); }
    const std::string& Path() const { return m_path; }
    // The file has its final name now (or is gone): nothing left to remove.
    void Release() { m_path.clear(); }

private:
    Fd m_fd;
    std::string m_path;
};

struct Outcome
{
    CopyStatus Status = CopyStatus::Ok;
    int Error = 0;
};

Outcome Failure(CopyStatus status, int err)
{
    return {status, err};
}

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Portable byte copy from the current offsets; tells which side failed.
Outcome CopyByReading(int in, int out, std::int64_t& copied)
{
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Failure(CopyStatus::SourceUnreadable, errno);
        }
        if (got == 0)
            return {};
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return Failure(CopyStatus::WriteFailed, errno);
            }
            done += put;
        }
        copied += got;
    }
}

bool Rewind(int in, int out)
{
    return ::lseek(in, 0, SEEK_SET) == 0 && ::lseek(out, 0, SEEK_SET) == 0 && ::ftruncate(out, 0) == 0;
}

// Copies the whole of in to out: a shared-extent clone where the file system offers one,
// else an in-kernel copy, else plain reads and writes.
Outcome CopyBytes(int in, int out, std::int64_t expected, std::int64_t& copied)
{
    copied = 0;
    if (::ioctl(out, FICLONE, in) == 0) {
        struct stat st = {};
        if (::fstat(out, &st) != 0)
            return Failure(CopyStatus::WriteFailed, errno);
        copied = st.st_size;
        return {};
    }
    bool kernelCopy = true;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            kernelCopy = false;
        }
    }
    // Some file systems refuse the in-kernel copy or report an early end: the plain copy
    // then starts again from the beginning and tells which side failed.
    if (!kernelCopy || copied < expected) {
        if (!Rewind(in, out))
            return Failure(CopyStatus::WriteFailed, errno);
        copied = 0;
        return CopyByReading(in, out, copied);
    }
    return {};
}

// Gives temp its final name unless target already exists.
Outcome Place(TempFile& temp, const std::string& target)
{
    if (::renameat2(AT_FDCWD, temp.Path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        temp.Release();
        return {};
    }
    if (errno == EEXIST)
        return Failure(CopyStatus::TargetExists, 0);
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Failure(CopyStatus::WriteFailed, errno);
    // A file system without the no-replace rename: a hard link fails on an existing name.
    if (::link(temp.Path().c_str(), target.c_str()) == 0)
        return {}; // temp's own name is removed by its owner
    if (errno == EEXIST)
        return Failure(CopyStatus::TargetExists, 0);
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return Failure(CopyStatus::WriteFailed, errno);
    // Neither (FAT and the like): test, then rename. Only the copier writes into the
    // folders it creates, so the gap between the two is not contended.
    struct stat st = {};
    if (::lstat(target.c_str(), &st) == 0)
        return Failure(CopyStatus::TargetExists, 0);
    if (::rename(temp.Path().c_str(), target.c_str()) != 0)
        return Failure(CopyStatus::WriteFailed, errno);
    temp.Release();
    return {};
}

std::string FolderOf(const std::string& path)
{
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void SyncFolder(const std::string& folder)
{
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        ::fsync(dir.Get());
}

Fd OpenSource(const std::string& path)
{
    // O_NONBLOCK: a FIFO that slipped past the type check must not hang the open.
    return Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

} // namespace

CopyResult CopyFileSafely(const std::string& source, const std::string& target, int maxAttempts,
                          const std::function<void(int attempt)>& afterCopy)
{
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(folder.size());
    if (name.empty())
        return {CopyStatus::WriteFailed, EISDIR, 0};
    for (int attempt = 1;; ++attempt) {
        struct stat before = {};
        // Decide on the type before opening: opening a device may have side effects.
        if (::stat(source.c_str(), &before) != 0)
            return {errno == ENOENT || errno == ENOTDIR ? CopyStatus::SourceMissing
                                                        : CopyStatus::SourceUnreadable,
                    errno, 0};
        if (!S_ISREG(before.st_mode))
            return {CopyStatus::NotRegular, 0, 0};
        struct stat probe = {};
        if (::lstat(target.c_str(), &probe) == 0)
            return {CopyStatus::TargetExists, 0, 0};

        Fd in = OpenSource(source);
        if (!in)
            return {errno == ENOENT ? CopyStatus::SourceMissing : CopyStatus::SourceUnreadable, errno, 0};
        if (::fstat(in.Get(), &before) != 0)
            return {CopyStatus::SourceUnreadable, errno, 0};
        if (!S_ISREG(before.st_mode))
            return {CopyStatus::NotRegular, 0, 0};
        ::fcntl(in.Get(), F_SETFL, ::fcntl(in.Get(), F_GETFL) & ~O_NONBLOCK);

        TempFile temp;
        if (!temp.Create(folder, name))
            return {CopyStatus::WriteFailed, errno, 0};
        std::int64_t copied = 0;
        Outcome outcome = CopyBytes(in.Get(), temp.Get(), before.st_size, copied);
        if (outcome.Status != CopyStatus::Ok)
            return {outcome.Status, outcome.Error, 0};
        // The copy keeps the source's date, so listings of copies show when the file changed.
        const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        // A version is the owner's alone, whoever may read the source where it lies.
        if (::fchmod(temp.Get(), (before.st_mode & S_IRWXU) | S_IRUSR | S_IWUSR) != 0 ||
            ::futimens(temp.Get(), times) != 0 || ::fsync(temp.Get()) != 0)
            return {CopyStatus::WriteFailed, errno, 0};
        if (afterCopy)
            afterCopy(attempt);

        // A writer that was busy during the copy shows in the size, the date, or (after a
        // save by rename) in the name now leading to another file.
        struct stat after = {}, now = {};
        const bool steady = ::fstat(in.Get(), &after) == 0 && ::stat(source.c_str(), &now) == 0 &&
                            after.st_size == before.st_size && SameTime(after.st_mtim, before.st_mtim) &&
                            now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
                            copied == before.st_size;
        if (!steady) {
            if (attempt >= maxAttempts)
                return {CopyStatus::Changed, 0, 0};
            continue;
        }
        outcome = Place(temp, target);
        if (outcome.Status != CopyStatus::Ok)
            return {outcome.Status, outcome.Error, 0};
        SyncFolder(folder);
        return {CopyStatus::Ok, 0, copied};
    }
}

std::optional<bool> FilesEqual(const std::string& a, const std::string& b)
{
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    Fd first(::open(a.c_str(), flags));
    Fd second(::open(b.c_str(), flags));
    struct stat sa = {}, sb = {};
    if (!first || !second || ::fstat(first.Get(), &sa) != 0 || ::fstat(second.Get(), &sb) != 0 ||
        !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode))
        return std::nullopt;
    if (sa.st_size != sb.st_size)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return true;
    // Reads up to one full chunk; a short count means the end of the file.
    auto fill = [](int fd, std::vector<char>& buffer) -> ssize_t {
        std::size_t have = 0;
        while (have < buffer.size()) {
            const ssize_t got = ::read(fd, buffer.data() + have, buffer.size() - have);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (got == 0)
                break;
            have += static_cast<std::size_t>(got);
        }
        return static_cast<ssize_t>(have);
    };
    std::vector<char> bufA(kChunk), bufB(kChunk);
    for (;;) {
        const ssize_t gotA = fill(first.Get(), bufA);
        const ssize_t gotB = fill(second.Get(), bufB);
        if (gotA < 0 || gotB < 0)
            return std::nullopt;
        if (gotA != gotB || std::memcmp(bufA.data(), bufB.data(), static_cast<std::size_t>(gotA)) != 0)
            return false;
        if (gotA == 0)
            return true;
    }
}

bool IsCopyLeftover(const std::string& name)
{
    return name.size() > kTempSuffix.size() + 1 && name.front() == '.' && name.ends_with(kTempSuffix);
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool RemoveEmptyDir(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

bool MakePrivateDir(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0)
        return false;
    // mkdir's mode passes through the umask, which may take the owner's own rights away.
    if (::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

bool RestrictToOwner(const std::string& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) == 0)
        return true;
    return ::chmod(path.c_str(), st.st_mode & 0700) == 0;
}

bool MakePrivateDirs(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!MakePrivateDir(part) && errno != EEXIST)
            return false;
        if (at == std::string::npos || at + 1 >= path.size())
            break;
    }
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool MakeDirs(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    struct stat st = {};
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos || at + 1 >= path.size())
            break;
    }
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace morvane
