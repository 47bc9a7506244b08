#include "agent/TForm1.h"

#include "agent/AgentCommands.h"
#include "agent/AutoStart.h"
#include "agent/ReportQueue.h"
#include "engine/ItemRecordIO.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonItems.h"
#include "platform/ChangeNotification.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/MessageAtoms.h"
#include "platform/NamedMapping.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/RuntimeNames.h"
#include "support/IconList.h"
#include "support/LanguageFiles.h"
#include "support/TkitTrayIcon.h"
#include "support/components/AppWindows.h"
#include "support/components/DesktopNotifications.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"
#include "support/components/QtTrayShell.h"
#include "support/components/ToolkitTranslation.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace morvane {

namespace {

constexpr int kHoldCheckInterval = 2000; // ms

constexpr const char* kAutoStartName = "Morvane";
constexpr const char* kMonitorProgram = "kelvrim";
constexpr const char* kNoTrayText =
    "This desktop has no system tray, so the agent shows no icon. It keeps your "
    "versions all the same; open Morvane from the applications menu to manage them.";

// The tray's two images: a page with a folded corner, blue when idle, orange while a
// folder is scanned.
QIcon TrayImage(bool busy)
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        const QColor body = busy ? QColor(0xE0, 0x8A, 0x1E) : QColor(0x2F, 0x6D, 0xB5);
        p.setPen(QPen(body.darker(150), 1));
        p.setBrush(body);
        const QPointF page[] = {{3, 1}, {10, 1}, {13, 4}, {13, 15}, {3, 15}};
        p.drawPolygon(page, 5);
        p.setBrush(body.lighter(160));
        const QPointF corner[] = {{10, 1}, {10, 4}, {13, 4}};
        p.drawPolygon(corner, 3);
        p.setPen(QPen(Qt::white, 1.2));
        for (const double y : {7.0, 9.5, 12.0})
            p.drawLine(QPointF(5, y), QPointF(11, y));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TForm1::TForm1(std::string homeDir, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), m_home(WithTrailingSep(std::move(homeDir))),
      m_settings(m_home)
{
    setObjectName("Form1");
    setWindowTitle("Form1");
    CreateComponents();
}

TForm1::~TForm1()
{
    FormClose();
}

void TForm1::CreateComponents()
{
    ImageList1 = new IconList(this);
    ImageList1->setObjectName("ImageList1");
    ImageList1->Add(TrayImage(false));
    ImageList1->Add(TrayImage(true));

    TrayPopup = new QMenu(this);
    TrayPopup->setObjectName("TrayPopup");
    ShowPellary1 = TrayPopup->addAction("Show Monitor");
    ShowPellary1->setObjectName("ShowPellary1");
    Shutdown1 = TrayPopup->addAction("Shut down");
    Shutdown1->setObjectName("Shutdown1");
    TrayPopup->setDefaultAction(ShowPellary1);
    connect(ShowPellary1, &QAction::triggered, this, [this] { ShowPellary1Click(); });
    connect(Shutdown1, &QAction::triggered, this, [this] { Shutdown1Click(); });

    auto shell = std::make_unique<QtTrayShell>();
    m_trayAvailable = shell->TrayAvailable();
    kitTrayIcon1 = new TkitTrayIcon(this, std::move(shell));
    kitTrayIcon1->setObjectName("kitTrayIcon1");
    kitTrayIcon1->SetHint("Morvane Agent");
    kitTrayIcon1->SetImageList(ImageList1);
    kitTrayIcon1->SetMinimizeToTray(true);
    kitTrayIcon1->SetMinimizeOnStart(true);
    kitTrayIcon1->SetPopupMenu(TrayPopup);
    // The desktop's own time: a balloon gone after a second is seldom read.
    kitTrayIcon1->SetInfoTimeout(0);
    kitTrayIcon1->SetInfoType(tiiInfo);
    connect(kitTrayIcon1, &TkitTrayIcon::OnClick, this, [this](QObject*) { ShowPellary1Click(); });
    connect(kitTrayIcon1, &TkitTrayIcon::OnDblClick, this, [this](QObject*) { kitTrayIcon1DblClick(); });
    // A balloon tells of versions and troubles the monitor shows: a click on it (or the
    // default action of its desktop notification) brings the monitor up.
    connect(kitTrayIcon1, &TkitTrayIcon::OnBalloonClick, this, [this](QObject*) { ShowPellary1Click(); });

    // A hold on making versions belongs to the monitor that moves the backup folder; a
    // monitor that died part-way must not leave the agent idle for good.
    m_holdCheck = new QTimer(this);
    m_holdCheck->setObjectName("HoldCheck");
    m_holdCheck->setInterval(kHoldCheckInterval);
    connect(m_holdCheck, &QTimer::timeout, this, [this] {
        if (m_commands && m_commands->Held() && !NamedMutex::IsHeld(kMonitorMutexName)) {
            Log("the monitor that moved the backup folder has gone: making versions goes on");
            InitSharedBlock(false);
            m_commands->ReleaseHold();
        }
    });
}

// Wakes the main thread whenever the shared block's file is cut or its attributes change,
// from a thread that waits on the runtime folder's change notification.
class BlockFileWatch
{
public:
    BlockFileWatch(const std::string& file, std::function<void()> changed, std::function<void()> lost)
        : m_name(NamePart(file)),
          m_notify(std::vector<std::string>{FolderPart(file)},
                   ChangeNotification::kSizeChange | ChangeNotification::kAttributeChange)
    {
        m_thread = std::thread([this, changed = std::move(changed), lost = std::move(lost)] {
            for (;;) {
                const ChangeNotification::WaitResult result = m_notify.Wait();
                if (result == ChangeNotification::WaitResult::Stopped)
                    return;
                if (result == ChangeNotification::WaitResult::Failed) {
                    lost();
                    return;
                }
                // The folder also holds the message sockets and the atoms: only the block's
                // own file counts.
                const ChangeNotification::Changes changes = m_notify.TakeChanges();
                if (changes.All ||
                    std::find(changes.Names.begin(), changes.Names.end(), m_name) != changes.Names.end())
                    changed();
            }
        });
    }
    ~BlockFileWatch()
    {
        m_notify.RequestStop();
        m_thread.join();
    }
    BlockFileWatch(const BlockFileWatch&) = delete;
    BlockFileWatch& operator=(const BlockFileWatch&) = delete;

private:
    const std::string m_name;
    ChangeNotification m_notify;
    std::thread m_thread;
};

void TForm1::RememberMonitor()
{
    const SharedBlock* block = Block();
    if (!block || !m_window || block->AgentWnd != m_window->Handle())
        return; // cut: what it says now is what the cut left
    m_monitorSeenRunning = block->MonitorRunning;
    m_monitorSeenWnd = block->MonitorWnd;
}

void TForm1::CheckBlockWhole()
{
    if (!Block())
        return;
    // Touching the block's last byte grows a file another program cut short back to size;
    // what the cut took (message numbers, window, texts) is then set up again.
    const volatile char* last = reinterpret_cast<const volatile char*>(Block()) + sizeof(SharedBlock) - 1;
    static_cast<void>(*last);
    // Another holder may have met the cut first and grown the file: the lost window tells.
    const unsigned regrown = NamedMapping::RegrownCount();
    if (regrown == m_regrownSeen && Block()->AgentWnd == m_window->Handle()) {
        RememberMonitor();
        return;
    }
    m_regrownSeen = regrown;
    Log("the shared block's file was cut short by another program: it is set up again");
    InitSharedBlock(false);
    // The monitor wrote its window into the block once, at its start: a monitor that still
    // receives goes on getting its reports.
    SharedBlock& block = *Block();
    if (!block.MonitorRunning && m_monitorSeenRunning && WindowExists(m_monitorSeenWnd)) {
        block.MonitorWnd = m_monitorSeenWnd;
        block.MonitorRunning = true;
        Log("the running monitor is known again");
    }
}

void TForm1::WatchBlockFile()
{
    // The kernel says when the block's file is cut or changed, so nothing wakes the agent
    // while all is quiet. The block's own writes go through the mapping and say nothing.
    const std::string path = RuntimeObjectPath(kSharedBlockName, ".shm");
    try {
        auto pending = std::make_shared<std::atomic<bool>>(false);
        m_blockWatch = std::make_unique<BlockFileWatch>(
            path,
            [this, pending] {
                // One check answers any number of changes that came before it ran.
                if (!pending->exchange(true)) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, pending] {
                            pending->store(false);
                            CheckBlockWhole();
                        },
                        Qt::QueuedConnection);
                }
            },
            [this] {
                const int err = errno;
                QMetaObject::invokeMethod(
                    this, [this, err] { CheckBlockByTimer(std::strerror(err)); }, Qt::QueuedConnection);
            });
    } catch (const std::exception& e) {
        // Without a watch (no inotify instance left for this user) it is looked at every few
        // seconds instead.
        CheckBlockByTimer(e.what());
    }
}

void TForm1::CheckBlockByTimer(const std::string& why)
{
    if (m_closed || findChild<QTimer*>("BlockCheck", Qt::FindDirectChildrenOnly))
        return;
    Log("the shared block's file cannot be watched (" + why + "): it is checked every " +
        std::to_string(kHoldCheckInterval / 1000) + " s");
    auto* blockCheck = new QTimer(this);
    blockCheck->setObjectName("BlockCheck");
    connect(blockCheck, &QTimer::timeout, this, [this] { CheckBlockWhole(); });
    blockCheck->start(kHoldCheckInterval);
}

SharedBlock* TForm1::Block() const
{
    return m_block ? m_block->Block() : nullptr;
}

void TForm1::FormCreate()
{
    EnterWork();
    // Below the screen, and without size: the form exists to own things, not to be seen.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(0, screen->geometry().height() + 1);
    resize(0, 0);

    // The handler is in place before the window's handle is published in the block, so
    // no request is lost; requests that come before the engine is loaded wait.
    m_window = std::make_unique<MessageWindow>(this);
    m_window->SetHandler([this](const WindowMessage& msg) { AppMessage(msg); });
    // Logged by the window already; the user hears of the first of each kind.
    m_window->SetTroubleHandler([this](const std::string& what) {
        SetBalloonTitle("Requests may be lost");
        SetBalloonText(what);
        ShowBalloon();
    });
    if (!m_block)
        m_block = SharedBlockMapping::Create();
    m_reports = std::make_unique<ReportQueue>(Block(), this);
    InitSharedBlock(true);
    TidyDataFiles();
    m_regrownSeen = NamedMapping::RegrownCount();
    WatchBlockFile();

    kitTrayIcon1->SetVisible(true);
    kitTrayIcon1->Loaded();
    if (!m_trayAvailable) {
        Log("no system tray is available: the agent runs without its icon");
        // Said once, where such a desktop shows messages: otherwise the agent is invisible.
        // A notification of its own, as the balloons that follow (a start's versions come
        // at once) replace one another and would take its place before it is read.
        auto* notice = new DesktopNotifications(QGuiApplication::applicationDisplayName(),
                                                NotificationIconName(), QDBusConnection::sessionBus(), this);
        connect(notice, &DesktopNotifications::Clicked, this, [this] { ShowPellary1Click(); });
        if (notice->Available())
            notice->Show(kitTrayIcon1->Hint(),
                         QString::fromStdString(m_settings.ReadMessage("MesNoTray", kNoTrayText)), tiiInfo,
                         0);
    }

    CheckAutoStart();

    m_items = std::make_unique<TRKMonItems>(Block(), this, m_home);
    m_items->SetActive(true);
    m_items->SetReportPoster(
        [reports = m_reports.get()](MessageIndex msg, const TMonItemRecord& record, std::uint32_t wParam) {
            reports->Post(msg, record, wParam);
        });
    TMonDirThread::Install(*m_items);
    m_items->SetLoadWatchesDeferred(true);
    for (const std::string& skipped : m_items->LoadAll())
        Log("list entry not loaded: " + skipped);

    AgentCommands::Context context;
    context.Block = Block();
    context.Items = m_items.get();
    context.Host = this;
    context.Reports = m_reports.get();
    context.HomeDir = [this] {
        return m_home;
    };
    context.BackupRoot = [this] {
        return m_settings.BackupRoot();
    };
    context.Reinit = [this] {
        InitSharedBlock(false);
    };
    context.HoldChanged = [this](bool held) {
        if (held)
            m_holdCheck->start();
        else
            m_holdCheck->stop();
    };
    m_commands = std::make_unique<AgentCommands>(std::move(context));

    m_ready = true;
    if (!m_early.empty())
        QTimer::singleShot(0, this, [this] { HandleEarly(); });
    StartWatchBatch();
    hide();
    LeaveWork();
}

void TForm1::StartWatchBatch()
{
    // A thread start costs a fraction of a millisecond; with thousands of folders the
    // requests that came meanwhile are answered between batches, not after the last.
    constexpr std::size_t kWatchesPerBatch = 16;
    QTimer::singleShot(0, this, [this] {
        if (m_items && !m_closeRequested && m_items->StartLoadedWatches(kWatchesPerBatch))
            StartWatchBatch();
    });
}

void TForm1::TidyDataFiles()
{
    // What a crash of an earlier run left: sockets of windows that died with it, and
    // temporary files of list writes it did not finish. Only our own names go.
    if (const int sockets = MessageWindow::RemoveDeadSockets())
        Log("removed " + std::to_string(sockets) + " message sockets of ended programs");
    const std::string lists[] = {m_home + kListFileName, m_home + kSettingsFileName,
                                 m_settings.BackupRoot() + kBackupIndexName};
    for (const std::string& list : lists) {
        if (const int files = IniFile::RemoveLeftovers(list))
            Log("removed " + std::to_string(files) + " unfinished writes of " + list);
        // The lists name every monitored file: only their owner may read them, also when
        // an earlier run made them readable to others.
        if (FileExists(list))
            RestrictToOwner(list, true);
    }
    // The backup root of an earlier run may have been made open to others, also the
    // folder that the user's link in its place leads to.
    if (m_settings.BackupRoot() == m_home + kDefaultBackupDir)
        RestrictToOwner(WithoutTrailingSep(m_settings.BackupRoot()), true);
}

void TForm1::InitSharedBlock(bool atStart)
{
    SharedBlock& block = *Block();
    if (FitsShortText(m_home))
        block.AgentDir.Set(m_home);
    else
        Log("the home folder is longer than 255 bytes and cannot be shared: " + m_home);
    for (int i = 0; i < kMessageCount; ++i)
        block.MessageIds[i] = RegisterWindowMessage(kMessageNames[static_cast<std::size_t>(i)]);
    if (atStart)
        block.MonitorRunning = false;
    // A re-initialisation must not release a report the monitor has not read yet.
    m_settings.LoadSettings(block, !atStart && m_reports && m_reports->InFlight());
    ApplyLanguage();
    // Published last: whoever finds the window finds the settings and texts in place.
    block.AgentWnd = m_window->Handle();
}

void TForm1::ApplyLanguage()
{
    // The toolkit's own buttons (Yes, No in the agent's questions) speak the same language.
    InstallToolkitTranslation(m_settings.Language());
    const std::string file = m_settings.LanguageFile(m_settings.Language());
    if (file.empty())
        return;
    try {
        ApplyFormLanguage(file, this);
        // A shipped language already holds the agent's texts; writing them to the user's
        // file would only hide the corrections of later installs.
        if (ShippedCounterpart(file).empty())
            SaveFormLanguage(file, this);
    } catch (const std::exception& e) {
        // A read-only language file keeps its texts; the agent runs on.
        Log(std::string("form texts not saved: ") + e.what());
    }
}

void TForm1::CheckAutoStart()
{
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    const AutoStart entry(kAutoStartName);
    const std::optional<std::string> value = entry.ReadValue();
    if (!value) {
        Log("the autostart entry " + entry.EntryPath() + " cannot be read: not checked");
        return;
    }
    if (AutoStart::Matches(*value, program))
        return;
    ShowMainWindow();
    BringMainWindowToFront();
    EnterWork();
    // Nobody to ask (no screen) means nobody agreed: the default answer is No.
    const BoxAnswer answer = MessageBoxes::Show(BoxKind::Information, Block()->Text(TxtMesNotStartup),
                                                BoxButtons::YesNo, BoxAnswer::No);
    LeaveWork();
    if (answer == BoxAnswer::Yes && !entry.WriteProgram(program))
        Log("the autostart entry " + entry.EntryPath() + " cannot be written");
    HideMainWindow();
}

void TForm1::AppMessage(const WindowMessage& msg)
{
    if (m_closed)
        return;
    RememberMonitor();
    // Requests keep their order: while earlier ones wait, later ones queue behind them.
    if (!m_ready || !m_early.empty()) {
        m_early.push_back(msg);
        return;
    }
    EnterWork();
    m_commands->AppMessage(msg);
    LeaveWork();
}

void TForm1::HandleEarly()
{
    while (!m_early.empty() && !m_closed && !m_closeRequested) {
        const WindowMessage msg = m_early.front();
        m_early.erase(m_early.begin());
        EnterWork();
        m_commands->AppMessage(msg);
        LeaveWork();
    }
}

void TForm1::ShowPellary1Click()
{
    SharedBlock* block = Block();
    if (!block)
        return;
    if (block->MonitorRunning) {
        if (m_reports->PostBare(MsgActivate))
            return;
        if (WindowExists(block->MonitorWnd)) {
            Log("the monitor did not take the request to show itself");
            return;
        }
        // Nobody receives on the monitor's window: it ended without closing (killed or
        // crashed). Its flag would keep every later click posting into the void.
        Log("the monitor ended without closing: a new one is started");
        block->MonitorRunning = false;
        block->MonitorWnd = 0;
        MessageWindow::RemoveDeadSockets();
    }
    if (m_startMonitor) {
        if (!m_startMonitor())
            Log(std::string("cannot start ") + kMonitorProgram);
        return;
    }
    const QString dir = QString::fromStdString(ProgramDir());
    if (!QProcess::startDetached(dir + kMonitorProgram, {}, dir))
        Log(std::string("cannot start ") + kMonitorProgram);
}

void TForm1::Shutdown1Click()
{
    RequestClose();
}

void TForm1::kitTrayIcon1DblClick()
{
    kitTrayIcon1->MinimizeApplication();
}

void TForm1::RequestClose()
{
    if (m_closed || m_closeRequested)
        return;
    m_closeRequested = true;
    if (m_workDepth > 0) {
        // A request or a box is in progress further down the stack; let it end first.
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        return;
    }
    FormClose();
}

void TForm1::LeaveWork()
{
    if (--m_workDepth == 0 && m_closeRequested && !m_closed)
        QTimer::singleShot(0, this, [this] { FormClose(); });
}

void TForm1::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    if (SharedBlock* block = Block(); block && block->MonitorRunning && m_reports)
        m_reports->PostBare(MsgClose);
    ReleaseSharedBlock();
    emit FormClosed();
}

void TForm1::ReleaseSharedBlock()
{
    if (m_window)
        m_window->SetHandler(nullptr);
    if (m_reports)
        m_reports->Clear();
    m_commands.reset();
    // Every watch thread ends before the engine, and the engine before the block it uses.
    if (m_items)
        m_items->StopAllWatches();
    m_items.reset();
    m_reports.reset();
    m_window.reset();
    m_block.reset();
}

void TForm1::ShowMainWindow()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(0, screen->geometry().height() + 1);
    show();
}

void TForm1::BringMainWindowToFront()
{
    // Without a screen there is no front to come to.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    raise();
    activateWindow();
}

void TForm1::HideMainWindow()
{
    hide();
}

void TForm1::SetBalloonTitle(const std::string& title)
{
    kitTrayIcon1->SetInfoTitle(QString::fromStdString(title));
}

void TForm1::SetBalloonText(const std::string& text)
{
    kitTrayIcon1->SetInfoText(QString::fromStdString(text));
}

void TForm1::ShowBalloon()
{
    kitTrayIcon1->ShowBalloon();
}

void TForm1::SetTrayImage(int index)
{
    kitTrayIcon1->SetImageIndex(index);
}

BoxAnswer TForm1::ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons)
{
    if (m_closeRequested) {
        // Closing: nobody is asked any more.
        Log("not shown while closing: " + text);
        return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::No;
    }
    EnterWork();
    const BoxAnswer answer = MessageBoxes::Show(kind, text, buttons);
    LeaveWork();
    return answer;
}

void TForm1::PostToMainThread(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

bool TForm1::IsMainThread() const
{
    // Not QThread::currentThread(): asked on a watch thread, it would give that thread a
    // Qt thread object of its own, kept for the thread's life (thousands of folders).
    return std::this_thread::get_id() == m_mainThread;
}

} // namespace morvane
