#pragma once

#include "agent/AgentSettings.h"
#include "engine/EngineHost.h"
#include "engine/SharedBlock.h"
#include "platform/MessageWindow.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QAction;
class QTimer;
class QMenu;

namespace morvane {

class AgentCommands;
class BlockFileWatch;
class IconList;
class ReportQueue;
class TRKMonItems;
class TkitTrayIcon;

// The agent's main form: hidden and zero-sized, it holds the tray icon and its menu, owns
// the shared block, the agent's message window and the engine's item collection, and is
// the engine's host. Main thread only (PostToMainThread excepted).
class TForm1 : public QWidget, public EngineHost
{
    Q_OBJECT
public:
    explicit TForm1(std::string homeDir, QWidget* parent = nullptr);
    ~TForm1() override;

    // The block the agent took right after its mutex, used by FormCreate instead of making
    // one there. Before FormCreate.
    void AdoptBlock(SharedBlockMapping block) { m_block.emplace(std::move(block)); }

    // The set-up: the block, the message window, the autostart check, the engine with its
    // list. The agent's mutex is held by the caller. Throws std::system_error when the
    // block or the message window cannot be made.
    void FormCreate();
    // Fills the block: home folder, message numbers, window handle, settings and texts;
    // re-applies the form's texts. atStart also clears MonitorRunning.
    void InitSharedBlock(bool atStart);
    // Grows the shared block back and sets it up again when another program cut its file.
    void CheckBlockWhole();
    // Asks to register the agent for the desktop's autostart when it is not.
    void CheckAutoStart();

    // Tray menu and icon. Show Monitor activates the running monitor; when none receives
    // (it was never there, or it died without closing) it clears what the dead one left
    // and starts one.
    void ShowPellary1Click();
    // How a monitor is started: the program beside the agent by default (tests replace it).
    void SetMonitorStarter(std::function<bool()> start) { m_startMonitor = std::move(start); }
    void Shutdown1Click();
    void kitTrayIcon1DblClick();

    // Ends the agent the way "Shut down" does; safe from any main-thread context (a
    // request or a box in progress finishes first, an open box is closed). Repeated calls
    // do nothing more.
    void RequestClose();
    bool Closed() const { return m_closed; }

    // EngineHost
    void ShowMainWindow() override;
    void BringMainWindowToFront() override;
    void HideMainWindow() override;
    void SetBalloonTitle(const std::string& title) override;
    void SetBalloonText(const std::string& text) override;
    void ShowBalloon() override;
    void SetTrayImage(int index) override;
    BoxAnswer ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons) override;
    void PostToMainThread(std::function<void()> fn) override;
    bool IsMainThread() const override;

    SharedBlock* Block() const;
    TRKMonItems* Items() const { return m_items.get(); }

    // Components, named as the language file names them.
    TkitTrayIcon* kitTrayIcon1 = nullptr;
    IconList* ImageList1 = nullptr;
    QMenu* TrayPopup = nullptr;
    QAction* ShowPellary1 = nullptr;
    QAction* Shutdown1 = nullptr;

signals:
    // The shutdown steps are done; the application may end.
    void FormClosed();

private:
    void CreateComponents();
    void AppMessage(const WindowMessage& msg);
    void HandleEarly();
    void FormClose();
    void ReleaseSharedBlock();
    void ApplyLanguage();
    // Removes what an earlier run that crashed left behind and keeps the lists private.
    // Starts the next few of the watches the load left, then the rest later.
    void StartWatchBatch();
    void TidyDataFiles();
    // Runs CheckBlockWhole whenever the block's file is cut or changed.
    void WatchBlockFile();
    // Checks the block every few seconds, for want of a watch on its file.
    void CheckBlockByTimer(const std::string& why);
    // Keeps what the block says of the monitor while the block is whole, so a cut of its
    // file does not lose the monitor.
    void RememberMonitor();
    // Work on the main thread that must finish before the form may close.
    void EnterWork() { ++m_workDepth; }
    void LeaveWork();

    std::string m_home;
    AgentSettings m_settings;
    std::unique_ptr<MessageWindow> m_window;
    std::optional<SharedBlockMapping> m_block;
    std::unique_ptr<ReportQueue> m_reports;
    std::unique_ptr<TRKMonItems> m_items;
    std::unique_ptr<AgentCommands> m_commands;
    bool m_ready = false;
    std::vector<WindowMessage> m_early; // requests that came before the engine was loaded
    int m_workDepth = 0;
    bool m_closeRequested = false;
    bool m_closed = false;
    bool m_trayAvailable = false;
    QTimer* m_holdCheck = nullptr;
    unsigned m_regrownSeen = 0;
    std::unique_ptr<BlockFileWatch> m_blockWatch;
    bool m_monitorSeenRunning = false;
    std::uint32_t m_monitorSeenWnd = 0;
    // The thread that made the form, the one it lives on.
    const std::thread::id m_mainThread = std::this_thread::get_id();
    std::function<bool()> m_startMonitor;
};

} // namespace morvane
