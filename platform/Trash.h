#pragma once

#include <string>

namespace morvane {

// Moves a file or a whole folder into the desktop trash, so the user can take it back:
// the home trash ($XDG_DATA_HOME/Trash/) when the path lies on its file system, else the
// trash at the top of the path's own file system ($topdir/.Trash/<uid>/ when the machine
// keeps a shared one there, else $topdir/.Trash-<uid>/). A trashed item never leaves its
// file system, so it is only ever renamed. Each entry gets an info file naming where it
// came from (percent-encoded, so any file name round-trips) and when; trash folders this
// makes are private (0700). False when it is still where it was: there is no usable trash
// on its file system, or the move failed; nothing is ever left half moved or somewhere
// else. Any thread.
bool MoveToTrash(const std::string& path);

// The info file's form of a path: every byte but letters, digits, "-", ".", "_", "~" and
// "/" as "%XX" (upper-case hex). Any thread.
std::string EncodeTrashPath(const std::string& path);
// The reverse; nothing for a broken "%" escape.
bool DecodeTrashPath(const std::string& text, std::string& path);

} // namespace morvane
