#pragma once

#include <string>
#include <vector>

namespace morvane {

// Starts a program, or opens a document, folder or address with the desktop's handler.
// fileName may be given as typed for one argument: blanks around it and one pair of
// surrounding double quotes are removed, as from each of parameters.
// - A program (an executable file that is a binary or a "#!" script, or a bare name
//   found on PATH) is started detached with parameters as its argument list and
//   directory (when not empty) as its working folder; no shell ever sees them.
// - Anything else (a document, a folder, an address such as "https://...") goes to
//   the desktop's URL handler; parameters and directory do not apply.
// Returns false, with a line on stderr, when nothing could be started (a missing file,
// a program that does not start, no desktop handler). Main thread.
bool RunProgram(const std::string& fileName, const std::vector<std::string>& parameters = {},
                const std::string& directory = {});

} // namespace morvane
