#pragma once

#include <string>
#include <string_view>

namespace morvane {

// Path of the file that stands for the named object name in the runtime folder:
// R/<name><suffix>. A name must be a plain file name (not empty, no "/", no NUL, not "."
// or ".."); any other throws std::system_error (EINVAL). Any thread.
std::string RuntimeObjectPath(const std::string& name, std::string_view suffix);

} // namespace morvane
