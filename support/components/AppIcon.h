#pragma once

#include <QIcon>

namespace morvane {

// The system's icon for windows and notifications: the desktop's icon theme's when the
// theme has it (an installed system), else the copies built into the program (a program
// run from the build tree). Main thread, after the application object exists.
QIcon AppIcon();

// Gives every window of the program the system's icon, and tells the desktop which menu
// entry the program belongs to (on Wayland that is where the icon comes from).
void SetApplicationIcon();

} // namespace morvane
