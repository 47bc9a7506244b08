#pragma once

#include <QString>
#include <optional>
#include <string>

class QWidget;

namespace morvane::monitor {

// The one road to the file-open dialog of the monitor, with the same rules as message
// boxes: a test queues the next answer with PushAnswer (nothing is shown); when
// MORVANE_AUTO_ANSWER is set, or no dialog can be seen (offscreen), the dialog counts as
// cancelled and a line "DIALOG open: cancelled" goes to stderr. Main thread only.
class FileDialogs
{
public:
    // The chosen file's full path, or nothing when cancelled. title names what the file is
    // chosen for (empty: the toolkit's own).
    static std::optional<std::string> OpenFile(QWidget* parent, const QString& title = QString());

    // Test hook: the next OpenFile answers this (nothing = cancelled).
    static void PushAnswer(std::optional<std::string> answer);
    static void Reset();
};

} // namespace morvane::monitor
