#include "monitor/MonitorProgram.h"

#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/AgentLink.h"
#include "monitor/HelpPages.h"
#include "monitor/ListView.h"
#include "monitor/MonitorLanguage.h"
#include "monitor/TAboutBox.h"
#include "monitor/TForm1.h"
#include "monitor/TForm2.h"
#include "monitor/TForm3.h"
#include "monitor/TForm4.h"
#include "monitor/TForm5.h"
#include "monitor/TForm8.h"
#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"
#include "support/PellaryDefs.h"
#include "support/RunProgram.h"
#include "support/components/MessageBoxes.h"
#include "support/components/TkitFileOperation.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QScreen>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>

namespace morvane::monitor {

namespace {

constexpr const char* kAgentNotFoundDefault = "Agent may not be started yet. Do you want to start it?";

} // namespace

MonitorProgram::MonitorProgram() : m_home(HomeDir()) {}

MonitorProgram::~MonitorProgram()
{
    // The handler goes before the window it calls.
    m_window.reset();
    m_form.reset();
}

SharedBlock* MonitorProgram::Block() const
{
    return m_block ? m_block->Block() : nullptr;
}

std::string MonitorProgram::AgentNotFoundText() const
{
    return ReadLanguageText(m_languageFile, "SystemMessages", "MesAgentNotFound", kAgentNotFoundDefault);
}

void MonitorProgram::HandOver()
{
    // The running monitor is the one registered in the block; it shows itself on ACTIVATE.
    auto block = IsAgentRunning();
    if (!block)
        return;
    const SharedBlock* shared = block->Block();
    if (shared->MonitorRunning && shared->MonitorWnd != 0)
        PostMessage(shared->MonitorWnd, shared->MessageIds[MsgActivate], 0, 0);
}

void MonitorProgram::OfferAgentStart()
{
    const BoxAnswer answer =
        MessageBoxes::Show(BoxKind::Warning, AgentNotFoundText(), BoxButtons::YesNo, BoxAnswer::Yes);
    if (answer != BoxAnswer::Yes)
        return;
    const std::string agent = ProgramDir() + "quennet";
    if (!RunProgram(agent, {}, ProgramDir()))
        MessageBoxes::Show(BoxKind::Error, "The agent could not be started: " + agent, BoxButtons::Ok,
                           BoxAnswer::Ok);
}

bool MonitorProgram::StartupCheck()
{
    m_languageFile = LanguageFilePath(ChooseLanguage(m_home));
    m_block = IsAgentRunning();
    if (!m_block) {
        OfferAgentStart();
        return false;
    }
    // We hold the monitor mutex, so no other monitor runs: a set MonitorRunning flag was
    // left by a monitor that died and is taken over.
    if ((*m_block)->MonitorRunning)
        Log("taking over from a monitor that ended without closing");
    return true;
}

bool MonitorProgram::OpenSharedRecord()
{
    m_languageFile = LanguageFilePath(ChooseLanguage(m_home));
    m_form->ApplyLanguage(m_languageFile);
    if (!m_block || !AgentLink::AgentAlive()) {
        // The agent ended while the monitor was starting.
        OfferAgentStart();
        return false;
    }
    try {
        m_window = std::make_unique<MessageWindow>();
    } catch (const std::exception& e) {
        MessageBoxes::Show(BoxKind::Error,
                           std::string("The monitor cannot receive the agent's messages: ") + e.what(),
                           BoxButtons::Ok, BoxAnswer::Ok);
        return false;
    }
    TForm1* form = m_form.get();
    m_window->SetHandler([form](const WindowMessage& message) { form->AppMessage(message); });
    (*m_block)->MonitorRunning = 1;
    (*m_block)->MonitorWnd = m_window->Handle();
    m_form->SetWindowHandle(m_window->Handle());
    return true;
}

bool MonitorProgram::Start()
{
    m_mutex = NamedMutex::TryAcquire(kMonitorMutexName);
    if (!m_mutex) {
        HandOver();
        return false;
    }
    QGuiApplication::setApplicationDisplayName("Morvane Monitor");
    if (!StartupCheck() || m_closeRequested)
        return false;

    auto splash = std::make_unique<TForm4>();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        splash->move(screen->availableGeometry().center() - splash->rect().center());
    splash->show();
    QCoreApplication::processEvents();

    m_form = std::make_unique<TForm1>(Block(), m_home);
    m_form->SetOnClosed([this] { FormClose(); });
    if (!OpenSharedRecord())
        return false;
    splash->SetProgress(QObject::tr("Loading file list..."));
    m_form->InitActiveList();
    m_form->LoadLayout(LayoutFile());
    if (m_onListLoaded)
        m_onListLoaded();
    m_form->Hook();
    splash.reset();
    QCoreApplication::processEvents();
    (*m_block)->MonitorWnd = m_window->Handle();
    m_started = true;
    if (m_closeRequested) {
        m_form->close();
        return false;
    }
    m_form->show();
    OfferToFinishMove();
    return true;
}

void MonitorProgram::OfferToFinishMove()
{
    // A backup move stopped part-way leaves versions in two folders: said at once, with
    // the move dialog at its folder for a yes.
    const std::string agentDir = Block()->AgentDir.Get();
    const std::string pending =
        ReadMoveTarget(WithTrailingSep(agentDir.empty() ? m_home : agentDir) + kSettingsFileName);
    if (pending.empty())
        return;
    const std::string language = LanguageFilePath(Block()->Settings.Language.Get());
    const std::string text =
        BackupMove::UnfinishedText(language, pending, Block()->Settings.BackupPath.Get()) + "\n\n" +
        MoveText(language, "MesMoveFinishNow", "Finish the move now?");
    if (MessageBoxes::Show(BoxKind::Confirmation, text, BoxButtons::YesNo, BoxAnswer::Yes, m_form.get()) ==
        BoxAnswer::Yes)
        m_form->BackupFolderDialog();
}

void MonitorProgram::RequestClose()
{
    if (m_started) {
        m_form->CloseAsExit();
        return;
    }
    // Still starting: a box it shows (no agent, a list it cannot read) is cancelled, and
    // the start ends at its next step.
    m_closeRequested = true;
    for (int guard = 0; guard < 16; ++guard) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            break;
        dialog->reject();
    }
}

void MonitorProgram::FormClose()
{
    try {
        m_form->SaveLayout(LayoutFile());
    } catch (const std::exception& e) {
        Log(std::string("the layout was not saved: ") + e.what());
    }
    if (m_quitOnClose)
        QCoreApplication::quit();
}

void MonitorProgram::SaveScreenshots(const std::string& folder)
{
    const QString dir = QString::fromStdString(WithTrailingSep(folder));
    QDir().mkpath(dir);
    m_form->resize(900, 600);
    // The first folder that shows several files.
    QTreeWidget* tree = m_form->FoldersTree();
    for (int i = 0; i < tree->topLevelItemCount() && m_form->FileList()->RowCount() < 2; ++i) {
        QTreeWidgetItem* top = tree->topLevelItem(i);
        tree->setCurrentItem(top);
        for (int j = 0; j < top->childCount() && m_form->FileList()->RowCount() < 2; ++j)
            tree->setCurrentItem(top->child(j));
    }
    if (m_form->FileList()->RowCount() > 0)
        m_form->FileList()->SetSelected(0);
    if (m_form->VerList()->RowCount() > 0)
        m_form->VerList()->SetSelected(0);
    QCoreApplication::processEvents();
    const auto save = [&](QWidget* widget, const char* name) {
        const QString file = dir + name;
        if (!widget->grab().save(file))
            Log("cannot write " + file.toStdString());
    };
    save(m_form.get(), "main-report.png");
    save(m_form->FoldersTree(), "folders-tree.png");
    save(m_form->VerList(), "versions-list.png");
    SaveDialogScreenshots(save);
    m_form->Icons1Click();
    QCoreApplication::processEvents();
    save(m_form.get(), "main-icons.png");
    m_form->aToolBarListExecute();
    QCoreApplication::processEvents();
    save(m_form.get(), "main-list.png");
    m_form->List1Click();
    QWidget* coolBar = m_form->findChild<QWidget*>("CoolBar1");
    save(coolBar, "toolbar-captions.png");
    m_form->aToolBarCaptionsExecute();
    QCoreApplication::processEvents();
    save(coolBar, "toolbar-no-captions.png");
    m_form->aToolBarCaptionsExecute();

    TForm5* form5 = m_form->Form5();
    form5->show();
    QCoreApplication::processEvents();
    save(form5, "form5-move-versions.png");
    form5->hide();
    std::unique_ptr<QProgressDialog> progress(TkitFileOperation::MakeProgressDialog(
        QString::fromStdString(form5->FileOperation1()->ProgressTitle), nullptr));
    progress->setLabelText(QObject::tr("Moving versions..."));
    progress->setValue(420);
    progress->show();
    QCoreApplication::processEvents();
    save(progress.get(), "progress-dialog.png");
    progress.reset();

    // The help page's first screen, as a browser shows it.
    const std::string page = HelpPagePath();
    if (!page.empty()) {
        QTextBrowser browser;
        browser.setSearchPaths({QString::fromStdString(FolderPart(page))});
        browser.setSource(QUrl::fromLocalFile(QString::fromStdString(page)));
        browser.resize(820, 620);
        browser.show();
        QCoreApplication::processEvents();
        save(&browser, "help-first-screen.png");
    } else {
        Log("no help page to picture");
    }
    m_form->close();
}

void MonitorProgram::SaveDialogScreenshots(const std::function<void(QWidget*, const char*)>& save)
{
    // Each dialog as it opens for what the window shows now, grabbed without a modal loop.
    const auto shot = [&](QDialog* dialog, const char* name, const std::function<void()>& prepare) {
        if (prepare)
            prepare();
        dialog->show();
        QCoreApplication::processEvents();
        save(dialog, name);
        dialog->hide();
    };
    if (QTreeWidgetItem* node = m_form->FoldersTree()->currentItem()) {
        m_form->FoldersTree()->setCurrentItem(node);
        save(m_form.get(), "main-folder-selected.png");
        if (const auto folder = m_form->Items().FolderByPath(m_form->NodePath(node)))
            shot(m_form->Form8(), "dialog-folder-options.png",
                 [&] { m_form->Form8()->PrepareFrom(folder->Data()); });
    }
    const int index = m_form->SelectedItemIndex();
    if (index >= 0) {
        TForm2* form2 = m_form->Form2();
        form2->SetKey(m_form->Items().GetFile(index)->Path());
        form2->show();
        auto* pages = form2->findChild<QTabWidget*>("PageControl1");
        for (int page = 0; pages && page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            QCoreApplication::processEvents();
            save(form2, ("dialog-properties-" + std::to_string(page + 1) + ".png").c_str());
        }
        form2->hide();
    }
    shot(m_form->Form3(), "dialog-options.png", nullptr);
    shot(m_form->AboutBox(), "dialog-about.png", nullptr);
    auto browse = m_form->FolderDialog1()->CreateDialog(m_form.get());
    browse->show();
    // The folder view fills from a worker; give it a moment to show the folders.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 800)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    save(browse.get(), "dialog-folder-browse.png");
    browse->hide();
}

int MonitorProgram::MonitorMain()
{
    m_quitOnClose = true;
    if (!Start())
        return 0;
    // Unattended pictures of the window (documentation and checks under a virtual display).
    const QByteArray shots = qgetenv("MORVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        QTimer::singleShot(300, m_form.get(), [this, shots] { SaveScreenshots(shots.toStdString()); });
    // One picture of the main window as it opened, then closed as the user would: a run
    // that shows whether the layout comes back as it was left.
    const QString mainShot = qEnvironmentVariable("MORVANE_SCREENSHOT_MAIN");
    if (shots.isEmpty() && !mainShot.isEmpty())
        QTimer::singleShot(800, m_form.get(), [this, mainShot] {
            if (!m_form->grab().save(mainShot))
                Log("cannot write " + mainShot.toStdString());
            m_form->close();
        });
    return QApplication::exec();
}

} // namespace morvane::monitor
