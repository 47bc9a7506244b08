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
// else /tmp/morvane-<uid>. Created with mode 0700; a named one is refused (std::system_error,
// EPERM) when owned by another user or a symbolic link. The one in /tmp, which anyone may
// make first, is instead replaced by a private folder of ours (see PrivateRuntimeDir), with
// a log line. Ends with "/". Any thread.
std::string RuntimeDir();

// The name, in the home folder, of the record of the private runtime folder in use.
inline constexpr const char* kRuntimeRecordName = "runtime-folder";

// preferred (made when missing) when it is a folder of ours that only we can use; else the
// folder named in recordFile when that is still ours and private; else a new folder
// "<preferred>-XXXXXX" made by mkdtemp and written to recordFile. The record is locked
// while it is decided, so programs starting together agree. Ends with "/". Throws
// std::system_error when no folder can be had.
std::string PrivateRuntimeDir(const std::string& preferred, const std::string& recordFile);

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
