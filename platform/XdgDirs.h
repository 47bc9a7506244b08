#pragma once

#include <string>

namespace morvane {

// The desktop's base folders: the one set every part of both programs uses. Relative
// values of the XDG variables are ignored, as the desktop's rules say (the toolkit's own
// lookup keeps them and falls back to "/" without a home, so it is not used here). Every
// result ends with "/". Nothing is created. Any thread.

// The user's home folder: $HOME, else the account's entry. Throws std::system_error
// (ENOENT) when neither names one: a folder made under "/" instead would be nobody's.
std::string UserHome();

// $XDG_CONFIG_HOME, else ~/.config/. Throws as UserHome when it needs the home.
std::string ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share/. Throws as UserHome.
std::string DataHome();
// $XDG_STATE_HOME, else ~/.local/state/: logs and other state that outlives a run but is
// no user data. Throws as UserHome.
std::string StateHome();
// The first folder of $XDG_CONFIG_DIRS, else /etc/xdg/: the machine-wide settings.
std::string SystemConfigDir();
// The first existing folder of $XDG_DATA_DIRS (default /usr/local/share/:/usr/share/),
// else the last one named: where the desktop's shared icons and types live.
std::string SystemDataDir();

// Folders of the desktop's autostart entries: the user's (throws as UserHome) and the
// machine's.
std::string UserAutostartDir();
std::string SystemAutostartDir();

} // namespace morvane
