#pragma once

class QWidget;

namespace morvane {

// The application as a whole: its top-level windows and its main form. Main thread.

// The program's main form (none until set); cleared when the form is destroyed.
void SetApplicationMainForm(QWidget* form);
QWidget* ApplicationMainForm();

// Whether the program shows its main form at start (true until set false, for
// instance by a tray icon that minimizes on start).
void SetApplicationShowMainForm(bool show);
bool ApplicationShowMainForm();
// The start's last step once the forms are made: the main form is shown when
// ApplicationShowMainForm says so, else hidden.
void ShowMainFormAtStart();

// Hides every visible top-level window of the program but the main form and remembers
// them. Windows outside the window manager (the notification-area icon) are left alone.
void HideApplicationWindow();
// Shows the windows HideApplicationWindow hid, each in its normal (not minimized) state.
void ShowApplicationWindow();

// ShowApplicationWindow, then the main form, when there is one, is shown normal and
// brought to the front.
void ShowApplication();
// HideApplicationWindow, then the main form, when there is one, is hidden.
void HideApplication();

} // namespace morvane
