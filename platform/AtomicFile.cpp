#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace morvane {

namespace {

constexpr std::string_view kHiddenSuffix = ".part";
constexpr std::size_t kHiddenRandom = 6;
constexpr int kNameAttempts = 16;

std::mt19937_64& Random()
{
    thread_local std::mt19937_64 gen{std::random_device{}()};
    return gen;
}

std::string HiddenName(const std::string& name)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Keep the temporary name within NAME_MAX, without splitting a UTF-8 character.
    std::size_t keep =
        std::min<std::size_t>(name.size(), NAME_MAX - 2 - kHiddenRandom - kHiddenSuffix.size());
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    std::string temp = "." + name.substr(0, keep) + ".";
    for (std::size_t i = 0; i < kHiddenRandom; ++i)
        temp += kLetters[Random()() % (sizeof kLetters - 1)];
    temp += kHiddenSuffix;
    return temp;
}

std::string NumberedName(const std::string& name)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, ".tmp.%d.%08x", static_cast<int>(::getpid()),
                  static_cast<unsigned>(Random()()));
    return name + buf;
}

// Names temp target without replacing anything there; EEXIST when something is.
int PlaceWithoutReplacing(int folder, const std::string& temp, const std::string& name, bool& tempGone)
{
    if (::renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) {
        tempGone = true;
        return 0;
    }
    if (errno == EEXIST || (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP))
        return errno;
    // A file system without the no-replace rename: a hard link fails on an existing name.
    if (::linkat(folder, temp.c_str(), folder, name.c_str(), 0) == 0)
        return 0; // the temporary name is removed by its owner
    if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS))
        return errno;
    // Neither (FAT and the like): test, then rename. Only our writers make names in the
    // folders that take such files, so the gap between the two is not contended.
    struct stat st = {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0)
        return errno;
    tempGone = true;
    return 0;
}

} // namespace

int AtomicFile::Begin(const std::string& target, TempName temp)
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
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string tempName = temp == TempName::Hidden ? HiddenName(name) : NumberedName(name);
        OwnedFd fd(::openat(dir.Get(), tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.Valid()) {
            m_fd = std::move(fd);
            m_folder = std::move(dir);
            m_target = target;
            m_temp = tempName;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
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

int AtomicFile::Commit(Placement placement, mode_t mode)
{
    if (!m_fd.Valid() || m_temp.empty())
        return EBADF;
    const std::string name = m_target.substr(m_target.rfind('/') + 1);
    int err = 0;
    // The mode is set on the descriptor: the umask applied at creation plays no part.
    // close() is checked: some file systems report a failed write only there.
    if (::fchmod(m_fd.Get(), mode) != 0 || ::fsync(m_fd.Get()) != 0 || ::fstat(m_fd.Get(), &m_written) != 0 ||
        ::close(m_fd.Release()) != 0) {
        err = errno;
    } else if (placement == Placement::Replace) {
        if (::renameat(m_folder.Get(), m_temp.c_str(), m_folder.Get(), name.c_str()) == 0)
            m_temp.clear();
        else
            err = errno;
    } else {
        bool tempGone = false;
        err = PlaceWithoutReplacing(m_folder.Get(), m_temp, name, tempGone);
        if (tempGone)
            m_temp.clear();
    }
    if (err == 0) {
        // The new name is in place; a failed flush of the folder cannot undo it and is
        // not worth reporting as a failed write.
        ::fsync(m_folder.Get());
    }
    Discard();
    return err;
}

void AtomicFile::Discard()
{
    if (!m_temp.empty() && m_folder.Valid())
        ::unlinkat(m_folder.Get(), m_temp.c_str(), 0);
    m_temp.clear();
    m_fd.Reset();
    m_folder.Reset();
}

mode_t ModeForReplacing(const std::string& path, mode_t newMode)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return newMode;
}

int WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newMode,
                        AtomicFile::TempName temp)
{
    AtomicFile file;
    int err = file.Begin(path, temp);
    if (err == 0)
        err = file.Write(bytes);
    if (err == 0)
        err = file.Commit(AtomicFile::Placement::Replace, ModeForReplacing(path, newMode));
    return err;
}

} // namespace morvane
