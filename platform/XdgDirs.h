#pragma once

#include <string>

namespace morvane {

// The desktop's base folders. Relative values of the XDG variables are ignored, as the
// desktop's own rules say. Every result ends with "/". Nothing is created. Any thread.

// $XDG_CONFIG_HOME, else ~/.config/.
std::string ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share/.
std::string DataHome();
// The first folder of $XDG_CONFIG_DIRS, else /etc/xdg/: the machine-wide settings.
std::string SystemConfigDir();
// The first existing folder of $XDG_DATA_DIRS (default /usr/local/share/:/usr/share/),
// else the last one named: where the desktop's shared icons and types live.
std::string SystemDataDir();

// Folders of the desktop's autostart entries: the user's and the machine's.
std::string UserAutostartDir();
std::string SystemAutostartDir();

} // namespace morvane
