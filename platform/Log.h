#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace morvane {

// The one log of a program: each line goes to stderr as "<program>: <text>". The program
// sets its name once at start; until then lines carry "morvane". Any thread; a line is
// written whole, and is one line: control characters in text are written as \xNN.
void SetLogName(const std::string& name);
void Log(const std::string& text);

// Where lines go instead of stderr while set (tests); an empty sink restores stderr.
// Returns the sink it replaces.
using LogSink = std::function<void(const std::string& line)>;
LogSink SetLogSink(LogSink sink);

// A program started at login has no terminal, so its lines also go to a file the user
// can find: <state home>/morvane/<program>.log. Once it holds limit bytes or more, it
// becomes "<file>.1" (replacing the one before) and a fresh file starts, so at most two
// files of about limit bytes each are kept. File lines carry the local time and the
// process id. Folder 0700, file 0600: lines name the user's files.
inline constexpr std::size_t kLogFileLimit = 1024 * 1024;

// The file of the program's name in the state folder. Throws std::system_error when the
// user has no home folder.
std::string DefaultLogFilePath();

// Starts writing lines to path ("" for DefaultLogFilePath()) as well; replaces a file
// opened before. False, with the reason on stderr, when it cannot be opened: the program
// runs on with stderr alone. Any thread.
bool OpenLogFile(const std::string& path = {}, std::size_t limit = kLogFileLimit);
// Stops writing to the file.
void CloseLogFile();

// A program's first and last lines: its version and data folder, then how it ended, so
// that the file shows where each run begins and ends. Main thread, after the name is set.
void LogStart();
void LogEnd(int exitCode);

// Sends the toolkit's own warnings through this log too, so the file holds them. Main
// thread, once, after the name is set.
void LogToolkitMessages();

} // namespace morvane
