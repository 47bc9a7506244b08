#pragma once

#include <QIcon>
#include <cstdint>

namespace morvane {

// Other running instances of this program (the same application name), found through
// the message windows of the runtime folder. Main thread.

// Opens this instance's application window and makes it known to later instances: a
// message window whose handle is kept in R/app-<name>.<pid>.wnd, and which brings this
// instance forward (ShowApplication) when another instance activates it. Done once; later
// calls give the same handle. Throws std::system_error when the window cannot be made.
std::uint32_t PublishApplicationWindow();
// Closes the window made by PublishApplicationWindow and removes its file (at exit).
void WithdrawApplicationWindow();

// The application window of another live instance, 0 when there is none.
std::uint32_t FindOtherInstanceWindow();
// Asks another instance to bring itself forward; false (and nothing else done) when
// there is none.
bool ActivateOtherInstance();

// The shell's stock icon of that index (0 a document, 2 a program, 3 a folder, ...) from
// the desktop's icon theme, with the toolkit's own as a fallback; one icon serves both
// sizes. An index without a stock icon gives the document icon. Either target may be null.
void ExtractShell32Icon(int index, QIcon* large, QIcon* small);

} // namespace morvane
