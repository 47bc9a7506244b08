#pragma once

#include "engine/SharedBlock.h"
#include "platform/NamedMutex.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvane {
class MessageWindow;
}

class QWidget;

namespace morvane::monitor {

class TForm1;

// The monitor program from start to end: one monitor at a time, a running agent, the
// main window over the agent's block, the answer handler, the layout file, and the
// orderly close. Objects go in reverse order of making: the message window first (so
// no report reaches a window that is gone), then the window, the block, the mutex.
// Main thread only.
class MonitorProgram
{
public:
    MonitorProgram();
    ~MonitorProgram();
    MonitorProgram(const MonitorProgram&) = delete;
    MonitorProgram& operator=(const MonitorProgram&) = delete;

    // Everything up to the message loop. False: the program ends now (another monitor
    // runs and was brought to the front, or there is no agent). Throws std::system_error
    // when the runtime folder cannot be used.
    bool Start();
    // Start, then the message loop until the window closes. The exit code.
    int MonitorMain();

    // A termination signal: the program ends as File > Exit ends it (layout written, the
    // block told, exit code 0), also when it comes while the program is still starting.
    void RequestClose();

    TForm1* Form() const { return m_form.get(); }
    // Called by Start once the list is loaded and before the reports that came meanwhile
    // are handled (tests hold the start there).
    void SetOnListLoaded(std::function<void()> onListLoaded) { m_onListLoaded = std::move(onListLoaded); }
    SharedBlock* Block() const;
    const std::string& Home() const { return m_home; }
    std::string LayoutFile() const { return m_home + "mvparam.ini"; }

    // The agent runs: its block is mapped. Without it the user is offered to start the
    // agent. False: end.
    bool StartupCheck();
    // The agent still runs: the window's language is set, the answer handler installed
    // and the monitor published in the block. False: end.
    bool OpenSharedRecord();

private:
    // Another monitor holds the mutex: ask it to come to the front.
    void HandOver();
    void OfferAgentStart();
    void FormClose();
    // A backup move left unfinished: the user is told and may finish it at once.
    void OfferToFinishMove();
    // Grabs the window's views into PNG files in folder, then closes the window.
    void SaveScreenshots(const std::string& folder);
    void SaveDialogScreenshots(const std::function<void(QWidget*, const char*)>& save);
    std::string AgentNotFoundText() const;

    bool m_quitOnClose = false;
    bool m_started = false;
    bool m_closeRequested = false;
    std::function<void()> m_onListLoaded;
    std::string m_home;
    std::string m_languageFile;
    std::optional<NamedMutex> m_mutex;
    std::optional<SharedBlockMapping> m_block;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<MessageWindow> m_window;
};

} // namespace morvane::monitor
