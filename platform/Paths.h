#pragma once

#include <string>
#include <string_view>

namespace morvane {

// The one path separator of the system; folder paths end with it.
inline constexpr char kPathSep = '/';
inline constexpr std::string_view kPathSepText = "/";

// Home folder H for data (settings, item list, layout, Langs/, default backup root):
// $MORVANE_HOME when set, else $XDG_DATA_HOME/morvane/, else ~/.local/share/morvane/.
// Created on first use; always ends with "/". Throws std::system_error when it cannot
// be created or the user has no home folder. Any thread.
std::string HomeDir();

// Runtime folder R for named objects: $MORVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/morvane,
// else /tmp/morvane-<uid>. Created with mode 0700; refused (std::system_error, EPERM) when
// owned by another user. Ends with "/". Any thread.
std::string RuntimeDir();

// Folder of the running executable, ending with "/".
std::string ProgramDir();

// The folder of the shipped data (Langs/, _Help/), found from where the program lies:
// the install's share folder (<program folder>/../share/morvane/ in a standard layout)
// when it exists, else the program folder itself (the build tree keeps them beside the
// programs). Never a path compiled in, so any prefix and a staged install work. Ends
// with "/". ShareDir() uses ProgramDir(). Any thread.
std::string ShareDir();
std::string ShareDirFor(const std::string& programDir);

// Appends "/" unless the text already ends with it (empty stays empty).
std::string WithTrailingSep(std::string path);

// Drops trailing "/"s, but never the root's own "/".
std::string WithoutTrailingSep(std::string path);

// The part of path up to and including its last "/" ("" when there is none).
std::string FolderPart(const std::string& path);
// The part after the last "/".
std::string NamePart(const std::string& path);

} // namespace morvane
