#pragma once

#include <string>

namespace morvane {

// Moves a file or a whole folder into the desktop trash, so the user can take it back.
// False when it is still where it was: there is no trash on its file system, or the move
// failed; nothing is ever left half moved or somewhere else. Any thread.
bool MoveToTrash(const std::string& path);

} // namespace morvane
