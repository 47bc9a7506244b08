#pragma once

#include <cstdint>
#include <string>

namespace morvane {

// Registered message numbers: the atom file R/atoms holds one name a line under flock;
// a name's number is 0xC000 + its line index. Names compare without case, so the same
// name gives the same number in every process. Throws std::system_error.
std::uint32_t RegisterWindowMessage(const std::string& name);

} // namespace morvane
