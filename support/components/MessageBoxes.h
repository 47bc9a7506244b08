#pragma once

#include "engine/EngineHost.h"

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace morvane {

// The one road to a modal message box. Every box of a program goes through Show, so no
// test and no unattended run ever blocks on a window nobody can answer:
// - A test in the same process queues answers with PushAnswer; a queued answer is taken
//   instead of showing anything.
// - When MORVANE_AUTO_ANSWER is "yes", "no" or "ok", nothing is shown and that answer is
//   given (a box with the single button OK always answers Ok; "ok" on a Yes/No box is
//   Yes). End-to-end tests start the programs with it.
// - When no box can be seen (the offscreen or minimal platform) the box's default button
//   is answered.
// In all three cases a line "BOX <kind>: <text>" goes to stderr, so the answer given
// without a user stays visible. Otherwise a QMessageBox is shown. Main thread only.
class MessageBoxes
{
public:
    // kind selects the icon and the stderr word (information, confirmation, warning,
    // error); defaultAnswer is the button that Enter presses and the answer of an
    // unattended run (Ok for an OK box whatever is given).
    static BoxAnswer Show(BoxKind kind, const std::string& text, BoxButtons buttons,
                          BoxAnswer defaultAnswer = BoxAnswer::Yes, QWidget* parent = nullptr);

    // Test hook: the next Show takes this answer (answers are used in the order pushed).
    static void PushAnswer(BoxAnswer answer);
    // Test hook: the texts of the boxes since the last call (the last 100), oldest first;
    // clears them.
    static std::vector<std::string> TakeShownTexts();
    // Drops queued answers and recorded texts.
    static void Reset();

    // The lower-case word of a kind, as written to stderr.
    static const char* KindName(BoxKind kind);
    // The answer MORVANE_AUTO_ANSWER asks for, if it names one.
    static std::optional<BoxAnswer> AutoAnswer();
};

} // namespace morvane
