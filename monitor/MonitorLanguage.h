#pragma once

#include <string>

namespace morvane::monitor {

// The language rule of the monitor, the same as the agent's: Language of section Basic
// of home + "kelvrim.ini"; when empty, the user's language when its file exists in
// Langs/, else "English".
std::string ChooseLanguage(const std::string& home);

} // namespace morvane::monitor
