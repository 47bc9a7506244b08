#pragma once

#include <functional>
#include <string>

namespace morvane {

// The one log of a program: each line goes to stderr as "<program>: <text>". The program
// sets its name once at start; until then lines carry "morvane". Any thread; a line is
// written whole.
void SetLogName(const std::string& name);
void Log(const std::string& text);

// Where lines go instead of stderr while set (tests); an empty sink restores stderr.
// Returns the sink it replaces.
using LogSink = std::function<void(const std::string& line)>;
LogSink SetLogSink(LogSink sink);

} // namespace morvane
