#pragma once

#include <functional>

class QDialog;

namespace morvane {

// The one road to a modal dialog of our own, with the rules of message boxes: a test
// queues what the "user" does with PushHandler, and Exec hands the shown dialog to it
// instead of running a modal loop; when MORVANE_AUTO_ANSWER is set, or no window can be
// seen (offscreen), the dialog counts as cancelled and "DIALOG <name>: cancelled" goes
// to stderr. Main thread only.
class ModalDialogs
{
public:
    // What a queued handler does with the dialog: set controls, click buttons. A dialog
    // still open when the handler returns is rejected.
    using Handler = std::function<void(QDialog&)>;

    // Shows dialog modally and returns its result (QDialog::Accepted or Rejected).
    static int Exec(QDialog& dialog);

    // Test hook: the next Exec runs handler (handlers are used in the order pushed).
    static void PushHandler(Handler handler);
    static bool HasHandler();
    // How many Exec calls are running now (a window that goes away waits for them).
    static int Depth();
    static void Reset();
};

} // namespace morvane
