#include "platform/XdgDirs.h"

#include "platform/OwnedFd.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

// The variable's value when it is an absolute path, else "".
std::string AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || value[0] != kPathSep)
        return {};
    return value;
}

// The absolute entries of a colon-separated list, each ending with "/".
std::vector<std::string> AbsoluteList(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    const std::string text = value && *value ? value : fallback;
    std::vector<std::string> dirs;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string dir = text.substr(start, end - start);
        if (!dir.empty() && dir.front() == kPathSep)
            dirs.push_back(WithTrailingSep(dir));
        start = end + 1;
    }
    if (dirs.empty())
        return AbsoluteList("", fallback);
    return dirs;
}

bool IsFolder(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The variable's folder, else the one below the home.
std::string BaseFolder(const char* name, const char* belowHome)
{
    const std::string xdg = AbsoluteEnv(name);
    return xdg.empty() ? UserHome() + belowHome : WithTrailingSep(xdg);
}

} // namespace

std::string UserHome()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == kPathSep)
        return WithTrailingSep(home);
    std::vector<char> buf(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == kPathSep)
        return WithTrailingSep(found->pw_dir);
    ThrowSystemError(ENOENT, "cannot find the home folder of the current user");
}

std::string ConfigHome()
{
    return BaseFolder("XDG_CONFIG_HOME", ".config/");
}

std::string DataHome()
{
    return BaseFolder("XDG_DATA_HOME", ".local/share/");
}

std::string StateHome()
{
    return BaseFolder("XDG_STATE_HOME", ".local/state/");
}

std::string SystemConfigDir()
{
    return AbsoluteList("XDG_CONFIG_DIRS", "/etc/xdg").front();
}

std::string SystemDataDir()
{
    const std::vector<std::string> dirs = AbsoluteList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    for (const std::string& dir : dirs)
        if (IsFolder(dir))
            return dir;
    return dirs.back();
}

std::string UserAutostartDir()
{
    return ConfigHome() + "autostart/";
}

std::string SystemAutostartDir()
{
    return SystemConfigDir() + "autostart/";
}

} // namespace morvane
