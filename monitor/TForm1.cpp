#include "monitor/TForm1.h"

#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItems.h"
#include "monitor/CaptionToolBar.h"
#include "monitor/ColumnCaptions.h"
#include "monitor/ListView.h"
#include "monitor/SplitterPlace.h"
#include "monitor/TAboutBox.h"
#include "monitor/TForm2.h"
#include "monitor/TForm3.h"
#include "monitor/TForm8.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"
#include "support/RunProgram.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ToolkitTranslation.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <limits>

namespace morvane::monitor {

namespace {

constexpr int kAgentCheckInterval = 2000; // ms
// The options dialog's place in the layout file, in the file's own key form.
constexpr const char* kOptionsSection = "Form3";
constexpr const char* kOptionsLeft = "Form3.Left";
constexpr const char* kOptionsTop = "Form3.Top";
constexpr int kNoPlace = std::numeric_limits<int>::min();

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

} // namespace

TForm1::TForm1(SharedBlock* block, const std::string& home, QWidget* parent)
    : QMainWindow(parent), m_block(block), m_link(block),
      m_items(std::make_unique<TRKMonItems>(block, &m_host, home))
{
    // FormCreate: the tree may be filled from the start (its own default); the list copy
    // stays passive.
    setObjectName("Form1");
    setWindowTitle(QGuiApplication::applicationDisplayName());
    resize(760, 520);
    m_host.SetWindow(this);
    m_host.SetBalloonSink([this](const std::string& title, const std::string& text) {
        m_statusBar->showMessage(QString::fromStdString(title.empty() ? text : title + ": " + text), 5000);
    });
    CreateActions();
    CreateWidgets();
    CreateMenus();
    // A request the agent never took is said, never lost without a word.
    m_link.SetOnNotSent([this](const std::string& what) {
        if (m_closed)
            return;
        MessageBoxes::Show(BoxKind::Warning,
                           Message(MonitorText::RequestNotTaken) + "\n" + what + "\n" +
                               Message(MonitorText::TryAgain),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
    });
    CreateDialogs();
    // The agent's state is looked at now and then, so the window says when it has gone
    // and takes up a restarted one.
    auto* agentCheck = new QTimer(this);
    agentCheck->setObjectName("AgentCheck");
    connect(agentCheck, &QTimer::timeout, this, [this] {
        if (!m_closed)
            CheckAgent();
    });
    agentCheck->start(kAgentCheckInterval);
    UpdateStatusBar();
    UpdateActions();
}

TForm1::~TForm1()
{
    // The views go first, while the window their callbacks reach and the item list they
    // show still exist: left to the base classes, they would be laid out and painted after
    // both are gone. Nothing they send on the way is followed.
    hide();
    for (QObject* view : std::initializer_list<QObject*>{m_tree, m_fileList, m_verList})
        disconnect(view, nullptr, this, nullptr);
    m_fileList->SetRowColour({});
    delete takeCentralWidget();
    m_coolBar = nullptr;
    m_toolBar = nullptr;
    m_tree = nullptr;
    m_panel = nullptr;
    m_foldersPlace = nullptr;
    m_fileListPlace = nullptr;
    m_fileList = nullptr;
    m_verList = nullptr;
}

QAction* TForm1::Action(const char* name) const
{
    return findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

void TForm1::CreateActions()
{
    struct ActionDef
    {
        const char* Name;
        const char* Caption;
        const char* Hint;
        void (TForm1::*Run)();
        bool Checkable;
    };
    const ActionDef defs[] = {
        {"aProperties", "Properties", "Properties", &TForm1::PropertiesClick, false},
        {"aAdd", "Add new", "Add new file", &TForm1::AddButtonClick, false},
        {"aDeleteFile", "Delete", "Delete file from list", &TForm1::RemoveButtonClick, false},
        {"aStartMonitoring", "Start monitoring", "", &TForm1::StartMonButtonClick, false},
        {"aStopMonitoring", "Stop monitoring", "", &TForm1::StopMonButtonClick, false},
        {"aMakeVersion", "Make version", "", &TForm1::Makeversion1Click, false},
        {"aReassing", "Reassign", "", &TForm1::Maptoanother1Click, false},
        {"aFileOpen", "Open", "", &TForm1::Open2Click, false},
        {"aClearVersions", "Clear versions", "Clear versions", &TForm1::ClearHistoryClick, false},
        {"aShowToolBar", "Show", "", &TForm1::aShowToolBarExecute, true},
        {"aToolBarReport", "Report style", "", &TForm1::List1Click, true},
        {"aToolBarList", "List style", "", &TForm1::aToolBarListExecute, true},
        {"aToolBarIcon", "Icons style", "", &TForm1::Icons1Click, true},
        {"aToolBarCaptions", "Show captions", "", &TForm1::aToolBarCaptionsExecute, true},
        {"aToolBarCaptionsList", "List captions", "", &TForm1::aToolBarCaptionsListExecute, true},
        {"aVerReport", "Report style", "", &TForm1::Report1Click, true},
        {"aVerList", "List style", "", &TForm1::List2Click, true},
        {"aVerIcon", "Icons style", "", &TForm1::Icons2Click, true},
        {"aVerOpen", "Open", "", &TForm1::VerListDblClick, false},
        {"aOpenLocation", "Open location", "", &TForm1::Openlocation1Click, false},
        {"aVerDelete", "Delete", "", &TForm1::DeleteVersionClick, false},
        {"aOptions", "Options...", "Options", &TForm1::OptionsClick, false},
        {"aAbout", "About Morvane...", "", &TForm1::About1Click, false},
        {"aPellaryHelp", "Morvane Help", "", &TForm1::aPellaryHelpExecute, false},
        {"aAddFolder", "Add folder", "", &TForm1::aAddFolderExecute, false},
        {"aFolderProperties", "Folder properties", "", &TForm1::aFolderPropertiesExecute, false},
        {"aDeleteFolder", "Delete folder", "Delete folder from list", &TForm1::aDeleteFolderExecute, false},
        {"aReassignFolder", "Reassign folder", "", &TForm1::aReassignFolderExecute, false},
    };
    for (const ActionDef& def : defs) {
        auto* action = new QAction(QString::fromUtf8(def.Caption), this);
        action->setObjectName(def.Name);
        action->setToolTip(QString::fromUtf8(*def.Hint ? def.Hint : def.Caption));
        action->setStatusTip(QString::fromUtf8(def.Hint));
        action->setCheckable(def.Checkable);
        const auto run = def.Run;
        // A checkable action's check mark follows the state its command sets, never the
        // click alone: the update rule sets it again afterwards.
        connect(action, &QAction::triggered, this, [this, run] {
            (this->*run)();
            UpdateActions();
        });
    }
    auto* exit = new QAction(tr("E&xit"), this);
    exit->setObjectName("FileExit1");
    exit->setToolTip("Exit");
    exit->setStatusTip("Quits the application");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    auto* saveLanguage = new QAction(tr("_Save language"), this);
    saveLanguage->setObjectName("Savelanguage1");
    connect(saveLanguage, &QAction::triggered, this, &TForm1::Savelanguage1Click);
    bool developer = false;
    try {
        developer = IniFile(m_items->SettingsFile()).ReadBool("Basic", "_Developer", false);
    } catch (const std::exception& e) {
        qWarning("Cannot read %s: %s", m_items->SettingsFile().c_str(), e.what());
    }
    saveLanguage->setVisible(developer);

    Action("aAdd")->setIcon(ThemeIcon("document-new", QStyle::SP_FileIcon));
    Action("aDeleteFile")->setIcon(ThemeIcon("edit-delete", QStyle::SP_TrashIcon));
    Action("aClearVersions")->setIcon(ThemeIcon("edit-clear", QStyle::SP_DialogResetButton));
    Action("aProperties")->setIcon(ThemeIcon("document-properties", QStyle::SP_FileDialogDetailedView));
    Action("aOptions")->setIcon(ThemeIcon("preferences-system", QStyle::SP_FileDialogInfoView));
    Action("aAddFolder")->setIcon(ThemeIcon("folder-new", QStyle::SP_FileDialogNewFolder));
    Action("aFolderProperties")->setIcon(ThemeIcon("document-properties", QStyle::SP_FileDialogDetailedView));
    Action("aDeleteFolder")->setIcon(ThemeIcon("edit-delete", QStyle::SP_TrashIcon));
    Action("aFileOpen")->setShortcut(QKeySequence::Open);
    Action("aDeleteFile")->setShortcutContext(Qt::WidgetWithChildrenShortcut);
}

void TForm1::CreateWidgets()
{
    auto* central = new QWidget(this);
    central->setObjectName("CentralPanel");
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_coolBar = new QWidget(central);
    m_coolBar->setObjectName("CoolBar1");
    m_coolBar->setMinimumHeight(24);
    auto* coolLayout = new QHBoxLayout(m_coolBar);
    coolLayout->setContentsMargins(2, 2, 2, 2);
    m_toolBar = new CaptionToolBar(m_coolBar);
    m_toolBar->setObjectName("ToolBar1");
    m_toolBar->setMovable(false);
    m_toolBar->addAction(Action("aAdd"));
    // Item or folder properties, whichever pane has the focus.
    auto* propButton = new QToolButton(m_toolBar);
    propButton->setObjectName("PropButton");
    propButton->setText(tr("Properties"));
    propButton->setToolTip(tr("Properties"));
    propButton->setIcon(Action("aProperties")->icon());
    propButton->setAutoRaise(true);
    propButton->setFocusPolicy(Qt::NoFocus);
    propButton->setToolButtonStyle(m_toolBar->toolButtonStyle());
    connect(m_toolBar, &QToolBar::toolButtonStyleChanged, propButton, &QToolButton::setToolButtonStyle);
    connect(propButton, &QToolButton::clicked, this, &TForm1::PropButtonClick);
    m_toolBar->addWidget(propButton);
    m_toolBar->addAction(Action("aClearVersions"));
    m_toolBar->addSeparator();
    m_toolBar->addAction(Action("aOptions"));
    m_toolBar->setContextMenuPolicy(Qt::CustomContextMenu);
    coolLayout->addWidget(m_toolBar);
    coolLayout->addStretch();
    layout->addWidget(m_coolBar);

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    splitter->setObjectName("Splitter1");
    m_tree = new FoldersTreeView(*m_items, splitter);

    m_panel = new QSplitter(Qt::Vertical, splitter);
    m_panel->setObjectName("Panel1");
    m_fileList = new FileListView(*m_items, m_block, m_panel);
    m_fileList->SetRowColour([this](int row) { return FileRowColour(row); });
    m_verList = new VersionsListView(m_block, m_panel);
    m_panel->setStretchFactor(0, 3);
    m_panel->setStretchFactor(1, 2);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);
    splitter->setSizes({200, 560});
    m_foldersPlace = new SplitterPlace(splitter);
    m_fileListPlace = new SplitterPlace(m_panel);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName("StatusBar1");
    m_statusPanel = new QLabel(m_statusBar);
    m_statusPanel->setObjectName("StatusPanel0");
    MarkRunTimeText(m_statusPanel);
    m_statusPanel->setMinimumWidth(50);
    // A normal widget, which a message covers while it shows: a permanent one that takes
    // the whole bar would leave no room for any message.
    m_statusBar->addWidget(m_statusPanel, 1);
    m_agentPanel = new QLabel(m_statusBar);
    m_agentPanel->setObjectName("AgentStatePanel");
    MarkRunTimeText(m_agentPanel);
    m_agentPanel->setStyleSheet("color: #b00000;");
    m_agentPanel->hide();
    m_statusBar->addPermanentWidget(m_agentPanel);
    setStatusBar(m_statusBar);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        FoldersTreeChange(node);
        UpdateActions();
    });
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this] { FoldersTreeDblClick(); });
    connect(m_fileList, &ListView::SelectionChanged, this, [this] {
        if (m_fileList->Tag() == 1)
            return;
        FileListChange();
    });
    connect(m_fileList, &ListView::CheckToggled, this, [this] {
        if (m_fileList->Tag() == 1)
            return;
        FileListClick();
        FileListChange();
    });
    connect(m_verList, &ListView::SelectionChanged, this, [this] { UpdateActions(); });
    connect(m_verList, &ListView::RowActivated, this, [this] { VerListDblClick(); });
    // VerListKeyDown: Enter is the Open command of the versions' menu.
    connect(m_verList, &ListView::EnterPressed, this, [this] { Action("aVerOpen")->trigger(); });
    // FileListKeyDown: Enter opens the file's properties.
    connect(m_fileList, &ListView::EnterPressed, this, [this] { PropertiesClick(); });
}

void TForm1::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    QMenu* file = bar->addMenu(tr("&File"));
    file->setObjectName("File1");
    for (const char* name : {"aAdd", "aProperties", "aStartMonitoring", "aStopMonitoring", "aMakeVersion",
                             "aReassing", "aFileOpen", "aDeleteFile"})
        file->addAction(Action(name));
    file->addSeparator();
    file->addAction(Action("aOptions"));
    file->addAction(Action("Savelanguage1"));
    file->addSeparator();
    file->addAction(Action("FileExit1"));

    QMenu* folder = bar->addMenu(tr("F&older"));
    folder->setObjectName("Folder1");
    for (const char* name : {"aAddFolder", "aFolderProperties", "aReassignFolder", "aDeleteFolder"})
        folder->addAction(Action(name));

    QMenu* view = bar->addMenu(tr("&View"));
    view->setObjectName("View1");
    QMenu* toolBar = view->addMenu(tr("Tool bar"));
    toolBar->setObjectName("Toolbar1");
    for (const char* name : {"aShowToolBar", "aToolBarCaptions", "aToolBarCaptionsList"})
        toolBar->addAction(Action(name));
    QMenu* fileStyles = view->addMenu(tr("File list"));
    fileStyles->setObjectName("Filelist1");
    for (const char* name : {"aToolBarReport", "aToolBarList", "aToolBarIcon"})
        fileStyles->addAction(Action(name));
    QMenu* verStyles = view->addMenu(tr("Versions list"));
    verStyles->setObjectName("Versionslist1");
    for (const char* name : {"aVerReport", "aVerList", "aVerIcon"})
        verStyles->addAction(Action(name));

    QMenu* versions = bar->addMenu(tr("V&ersions"));
    versions->setObjectName("Versions1");
    for (const char* name : {"aVerOpen", "aOpenLocation", "aVerDelete", "aClearVersions"})
        versions->addAction(Action(name));

    QMenu* help = bar->addMenu(tr("&Help"));
    help->setObjectName("Help1");
    help->addAction(Action("aAbout"));
    help->addAction(Action("aPellaryHelp"));

    m_fileMenu = new QMenu(this);
    m_fileMenu->setObjectName("FileMenu");
    for (const char* name : {"aProperties", "aAdd", "aStartMonitoring", "aStopMonitoring", "aMakeVersion",
                             "aReassing", "aFileOpen", "aClearVersions", "aDeleteFile"})
        m_fileMenu->addAction(Action(name));
    // The file list's styles are in the View menu; here they stay hidden as designed.
    QAction* styleSeparator = m_fileMenu->addSeparator();
    styleSeparator->setObjectName("N10");
    styleSeparator->setVisible(false);
    QMenu* fileStyle = m_fileMenu->addMenu(tr("View style"));
    fileStyle->setObjectName("Viewstyle1");
    for (const char* name : {"aToolBarReport", "aToolBarList", "aToolBarIcon"})
        fileStyle->addAction(Action(name));
    fileStyle->menuAction()->setVisible(false);

    m_verMenu = new QMenu(this);
    m_verMenu->setObjectName("VerMenu");
    for (const char* name : {"aVerOpen", "aOpenLocation", "aVerDelete", "aClearVersions"})
        m_verMenu->addAction(Action(name));
    m_verMenu->setDefaultAction(Action("aVerOpen"));
    m_verMenu->addSeparator();
    QMenu* verStyle = m_verMenu->addMenu(tr("View style"));
    verStyle->setObjectName("Viewstyle2");
    for (const char* name : {"aVerReport", "aVerList", "aVerIcon"})
        verStyle->addAction(Action(name));

    m_toolBarPopup = new QMenu(this);
    m_toolBarPopup->setObjectName("ToolBarPopup");
    for (const char* name : {"aShowToolBar", "aToolBarCaptions", "aToolBarCaptionsList"})
        m_toolBarPopup->addAction(Action(name));

    m_folderPopup = new QMenu(this);
    m_folderPopup->setObjectName("FolderPopup");
    for (const char* name : {"aFolderProperties", "aAddFolder", "aDeleteFolder", "aReassignFolder"})
        m_folderPopup->addAction(Action(name));
    m_addNewPopup = new QMenu(this);
    m_addNewPopup->setObjectName("AddNewPopup");
    for (const char* name : {"aAddFolder", "aAdd"})
        m_addNewPopup->addAction(Action(name));
    if (auto* addButton = qobject_cast<QToolButton*>(m_toolBar->widgetForAction(Action("aAdd")))) {
        addButton->setMenu(m_addNewPopup);
        addButton->setPopupMode(QToolButton::MenuButtonPopup);
    }

    // Menus ask the rules again before they open, as an idle update would.
    for (QMenu* menu : findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &TForm1::UpdateActions);
    connect(m_fileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateActions();
        m_fileMenu->popup(m_fileList->mapToGlobal(pos));
    });
    connect(m_verList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateActions();
        m_verMenu->popup(m_verList->mapToGlobal(pos));
    });
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // The right button selects the node under it, so the menu acts on that node.
        if (QTreeWidgetItem* node = m_tree->itemAt(pos))
            m_tree->setCurrentItem(node);
        UpdateActions();
        m_folderPopup->popup(m_tree->viewport()->mapToGlobal(pos));
    });
    connect(m_toolBar, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_toolBarPopup->popup(m_toolBar->mapToGlobal(pos)); });
    connect(m_fileList, &ListView::RowActivated, this, [this] {
        // Enter or a double click: every check box is set again from its item first.
        m_fileList->SetTag(1);
        for (int row = 0; row < m_fileList->RowCount(); ++row) {
            const int index = ItemIndexOfRow(row);
            if (index >= 0)
                m_fileList->SetChecked(row, m_items->GetFile(index)->Monitored());
        }
        m_fileList->SetTag(0);
    });
}

void TForm1::ApplyLanguage(const std::string& languageFile)
{
    m_languageFile = languageFile;
    // The toolkit's own buttons and dialogs speak the language the file is named after.
    const std::string name = NamePart(languageFile);
    InstallToolkitTranslation(name.size() > 4 ? name.substr(0, name.size() - 4) : name);
    ApplyFormLanguage(languageFile, this);
    for (QObject* dialog : std::initializer_list<QObject*>{m_form2, m_form3, m_aboutBox, m_form8})
        ApplyFormLanguage(languageFile, dialog);
    m_form8->SetCaptionPattern(MonitorTextPattern(languageFile, MonitorText::FolderOptionsCaption));
    // The about box's version, notice and address are its own whatever the language.
    m_aboutBox->SetFixedLines();
    try {
        // The shipped captions first, then the user's own over them.
        for (const std::string& file : {ShippedCounterpart(languageFile), languageFile}) {
            if (file.empty())
                continue;
            IniFile ini(file);
            LoadColumnCaptions(*m_fileList, ini);
            LoadColumnCaptions(*m_verList, ini);
        }
    } catch (const std::exception& e) {
        qWarning("Cannot read the column captions from %s: %s", languageFile.c_str(), e.what());
    }
}

void TForm1::LanguageChanged(const std::string& languageFile)
{
    ApplyLanguage(languageFile);
    // The make column's flag letters come from the captions just changed.
    m_fileList->InitRows();
    if (!m_block)
        return;
    // The agent reads the new language when it handles the REINIT that follows; no answer
    // says when, so the block is looked at for a few seconds.
    constexpr int kTextsWatchInterval = 50; // ms
    constexpr int kTextsWatchTime = 5000;   // ms
    const auto texts = [this] {
        std::vector<std::string> all;
        for (int slot = 0; slot < kTextSlotCount; ++slot)
            all.push_back(m_block->Text(static_cast<TextSlot>(slot)));
        return all;
    };
    m_shownTexts = texts();
    m_textsDeadline.setRemainingTime(kTextsWatchTime);
    if (!m_textsWatch) {
        m_textsWatch = new QTimer(this);
        m_textsWatch->setObjectName("TextsWatch");
        connect(m_textsWatch, &QTimer::timeout, this, [this, texts] {
            if (m_closed || m_textsDeadline.hasExpired())
                m_textsWatch->stop();
            std::vector<std::string> now = texts();
            if (now == m_shownTexts)
                return;
            m_shownTexts = std::move(now);
            m_fileList->InitRows();
            UpdateStatusBar();
        });
    }
    m_textsWatch->start(kTextsWatchInterval);
}

void TForm1::InitActiveList()
{
    if (!m_block)
        return;
    std::string agentDir = m_block->AgentDir.Get();
    if (agentDir.empty())
        agentDir = m_items->Home();
    m_items->SetListFile(WithTrailingSep(agentDir) + kListFileName);
    std::vector<std::string> skipped;
    try {
        skipped = m_items->LoadAll();
    } catch (const std::exception& e) {
        skipped.push_back(e.what());
    }

    m_fileList->SetTag(1);
    m_fileList->SetLoaded(false);
    m_tree->SetLoaded(false);
    for (const auto& folder : m_items->Folders())
        AddMonFolderRecord(folder->Data());
    m_tree->SetLoaded(true);
    m_fileList->SetLoaded(true);
    m_fileList->SetTag(0);
    // The first folder that holds files is shown at once, so the list agrees with the
    // status bar; with none, the folder the tree ends on.
    if (QTreeWidgetItem* node = m_tree->FirstNodeWithFiles())
        m_tree->setCurrentItem(node);
    FoldersTreeChange(m_tree->currentItem());
    RepaintViews();
    UpdateStatusBar();
    if (!skipped.empty()) {
        std::string text = Message(MonitorText::ListEntriesSkipped, {m_items->ListFile()});
        for (const auto& entry : skipped)
            text += "\n" + entry;
        MessageBoxes::Show(BoxKind::Warning, text, BoxButtons::Ok, BoxAnswer::Ok, this);
    }
}

void TForm1::LoadLayout(const std::string& layoutFile)
{
    for (QWidget* control :
         std::initializer_list<QWidget*>{this, m_toolBar, m_fileList, m_verList, m_statusBar, m_coolBar})
        LoadControlLayout(layoutFile, control, false);
    try {
        const IniFile ini(layoutFile);
        const int left = ini.ReadInteger(kOptionsSection, kOptionsLeft, kNoPlace);
        const int top = ini.ReadInteger(kOptionsSection, kOptionsTop, kNoPlace);
        if (left != kNoPlace && top != kNoPlace)
            m_form3->SetPlace({left, top});
    } catch (const std::exception& e) {
        qWarning("Cannot read %s: %s", layoutFile.c_str(), e.what());
    }
    // A monitor always starts in sight, whatever state it was closed in.
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    UpdateActions();
}

void TForm1::SaveLayout(const std::string& layoutFile)
{
    for (QWidget* control :
         std::initializer_list<QWidget*>{this, m_toolBar, m_fileList, m_verList, m_statusBar, m_coolBar})
        SaveControlLayout(layoutFile, control, false);
    if (const auto place = m_form3->Place()) {
        IniFile ini(layoutFile);
        ini.WriteInteger(kOptionsSection, kOptionsLeft, place->x());
        ini.WriteInteger(kOptionsSection, kOptionsTop, place->y());
        ini.Flush();
    }
}

int TForm1::FoldersWidth() const
{
    return m_foldersPlace->Get();
}

void TForm1::SetFoldersWidth(int width)
{
    m_foldersPlace->Set(width);
}

int TForm1::FileListHeight() const
{
    return m_fileListPlace->Get();
}

void TForm1::SetFileListHeight(int height)
{
    m_fileListPlace->Set(height);
}

std::size_t TForm1::PendingAnswers() const
{
    return m_pending.size();
}

void TForm1::Hook()
{
    if (m_unhooked)
        return;
    m_hooked = true;
    // Reports that came while the list was loading are handled now, in order, each with
    // the record it came with.
    std::vector<Answer> pending;
    pending.swap(m_pending);
    for (const Answer& answer : pending) {
        if (m_unhooked)
            break;
        try {
            HandleMessage(answer);
        } catch (const std::exception& e) {
            qWarning("A report of the agent could not be handled: %s", e.what());
        }
    }
}

void TForm1::Unhook()
{
    m_hooked = false;
    m_unhooked = true;
    m_pending.clear();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // FormClose: no report is handled once the window goes, and the agent is told that
    // no monitor runs any more, so its "Show Monitor" starts a new one.
    Unhook();
    if (m_block)
        m_block->MonitorRunning = 0;
    m_closed = true;
    hide();
    event->accept();
    if (m_onClosed)
        m_onClosed();
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // OnMinimize: out of the way until the agent's "Show Monitor" brings it back.
        hide();
    }
}

void TForm1::ActivateWindow()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool TForm1::CheckAgent()
{
    const bool alive = m_block && AgentLink::AgentAlive();
    ShowAgentState(alive);
    // A restarted agent knows of no monitor: this one registers again, so the agent's
    // reports reach it.
    if (alive && m_hooked && m_windowHandle != 0 &&
        (m_block->MonitorRunning == 0 || m_block->MonitorWnd != m_windowHandle)) {
        m_block->MonitorWnd = m_windowHandle;
        m_block->MonitorRunning = 1;
    }
    return alive;
}

bool TForm1::EnsureAgent()
{
    const bool alive = CheckAgent();
    if (!alive)
        MessageBoxes::Show(BoxKind::Warning, Message(MonitorText::AgentNotRunning), BoxButtons::Ok,
                           BoxAnswer::Ok, this);
    return alive;
}

void TForm1::SendFailed(bool sent)
{
    if (sent)
        return;
    ShowAgentState(false);
    MessageBoxes::Show(BoxKind::Warning, Message(MonitorText::RequestNotSent), BoxButtons::Ok, BoxAnswer::Ok,
                       this);
}

void TForm1::ShowAgentState(bool alive)
{
    m_agentPanel->setText(alive ? QString() : QString::fromStdString(Message(MonitorText::AgentGone)));
    m_agentPanel->setVisible(!alive);
}

void TForm1::Open(const OpenRequest& request)
{
    if (m_opener) {
        m_opener(request);
        return;
    }
    bool opened = false;
    if (!request.Program.empty())
        opened = RunProgram(request.Program, {request.Document}, request.Folder);
    else
        // Documents and folders go to the desktop by URL: nothing in the name is ever read
        // as an argument or a command.
        opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(request.Document)));
    // The desktop may have nothing that opens it: the user is told, not only a log line.
    if (!opened)
        MessageBoxes::Show(BoxKind::Warning,
                           request.Program.empty()
                               ? Message(MonitorText::NothingOpens, {request.Document})
                               : Message(MonitorText::NothingOpensWith, {request.Document, request.Program}),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
}

std::string TForm1::Text(TextSlot slot) const
{
    // A slot the agent has not filled yet shows the built-in English text.
    const std::string text = m_block ? m_block->Text(slot) : std::string();
    if (text.empty() && kTextSlots[slot].Default)
        return kTextSlots[slot].Default;
    return text;
}

std::string TForm1::Message(MonitorText text, const std::vector<std::string>& args) const
{
    return MonitorMessage(m_languageFile, text, args);
}

std::string TForm1::CountOf(std::size_t count, MonitorText one, MonitorText many) const
{
    return CountText(m_languageFile, count, one, many);
}

QString TForm1::StatusText() const
{
    return m_statusPanel->text();
}

} // namespace morvane::monitor
