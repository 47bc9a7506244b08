#include "monitor/TForm5.h"

#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItems.h"
#include "monitor/AgentLink.h"
#include "platform/Compression.h"
#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"
#include "support/components/TkitFileOperation.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace morvane::monitor {

namespace {

constexpr int kHoldTimeout = 20000; // ms: the agent ends its watches before it confirms
constexpr const char* kNewFolderName = "MVBackup";

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

TForm5::TForm5(SharedBlock* block, TRKMonItems& items, QWidget* parent)
    : QDialog(parent), m_block(block), m_items(items)
{
    setObjectName("Form5");
    setWindowTitle(tr("Move versions"));
    resize(420, 380);
    if (m_block)
        m_backupPath = m_block->Settings.BackupPath.Get();

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName("ToolBar1");
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* up = m_toolBar->addAction(style()->standardIcon(QStyle::SP_FileDialogToParent), tr("Up"));
    up->setObjectName("FolderUp");
    QAction* add =
        m_toolBar->addAction(style()->standardIcon(QStyle::SP_FileDialogNewFolder), tr("New folder"));
    add->setObjectName("FolderNew");

    m_combo = new QComboBox(this);
    m_combo->setObjectName("ShellComboBox1");
    m_combo->setMaxVisibleItems(8);

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    m_model->setReadOnly(false); // names are edited in place
    m_model->setRootPath("/");
    m_list = new QListView(this);
    m_list->setObjectName("ShellListView1");
    m_list->setModel(m_model);
    m_list->setViewMode(QListView::ListMode);
    m_list->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // By the pixel, so a row can be kept exactly where the pointer is.
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    m_unfinished = new QLabel(this);
    m_unfinished->setObjectName("UnfinishedMoveLabel");
    MarkRunTimeText(m_unfinished);
    m_unfinished->setWordWrap(true);
    m_unfinished->setStyleSheet("color: #b00000;");
    m_unfinished->hide();
    auto* pathLabel = new QLabel(tr("Folder:"), this);
    pathLabel->setObjectName("PathLabel");
    m_pathEdit = new QLineEdit(this);
    m_pathEdit->setObjectName("PathEdit");
    MarkRunTimeText(m_pathEdit);
    pathLabel->setBuddy(m_pathEdit);

    m_compression = new QCheckBox(tr("Set compression"), this);
    m_compression->setObjectName("SetCompressionCheck");
    m_compression->setChecked(true);
    // Enter never starts a move: it opens a folder or goes to the typed path.
    m_change = new QPushButton(tr("Change"), this);
    m_change->setObjectName("ChangeButton");
    m_change->setAutoDefault(false);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName("CabcelButton");
    m_cancel->setAutoDefault(false);

    m_fileOperation = new TkitFileOperation(this);
    m_fileOperation->setObjectName("FileOperation1");
    m_fileOperation->ProgressTitle = "Moving versions...";
    m_fileOperation->Operation = fotMove;
    m_fileOperation->SetParentWidget(this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_compression);
    buttons->addStretch();
    buttons->addWidget(m_change);
    buttons->addWidget(m_cancel);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(m_pathEdit, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_unfinished);
    layout->addWidget(m_combo);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_list, 1);
    layout->addLayout(pathRow);
    layout->addLayout(buttons);

    connect(up, &QAction::triggered, this, &TForm5::FolderUpClick);
    connect(add, &QAction::triggered, this, &TForm5::FolderNewClick);
    connect(m_combo, &QComboBox::activated, this,
            [this](int index) { SetCurrentFolder(m_combo->itemData(index).toString().toStdString()); });
    // Enter and the double click (which the view takes only on the row of its first click).
    connect(m_list, &QListView::activated, this, &TForm5::OpenFolder);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
        m_pathEdit->setText(selected.isEmpty() ? QString() : m_model->filePath(selected.front()));
    });
    connect(m_pathEdit, &QLineEdit::returnPressed, this, &TForm5::PathEditReturn);
    // Other programs change folders such as /tmp while the user aims at a row.
    m_list->viewport()->setMouseTracking(true);
    m_list->viewport()->installEventFilter(this);
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, &TForm5::HoldRowUnderPointer);
    const auto restoreSoon = [this] {
        QTimer::singleShot(0, this, &TForm5::RestoreRowUnderPointer);
    };
    connect(m_model, &QAbstractItemModel::rowsInserted, this, restoreSoon);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, restoreSoon);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, restoreSoon);
    connect(m_change, &QPushButton::clicked, this, &TForm5::ChangeButtonClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    // FormCreate: localised from the agent's language.
    if (m_block) {
        const std::string language = LanguageFilePath(m_block->Settings.Language.Get());
        if (!language.empty())
            ApplyFormLanguage(language, this);
    }
}

TForm5::~TForm5() = default;

void TForm5::SetBackupPath(const std::string& path)
{
    m_backupPath = WithTrailingSep(path);
}

std::string TForm5::LanguageFile() const
{
    return m_block ? LanguageFilePath(m_block->Settings.Language.Get()) : std::string();
}

std::string TForm5::SettingsFile() const
{
    const std::string agentDir = m_block ? m_block->AgentDir.Get() : std::string();
    return WithTrailingSep(agentDir.empty() ? m_items.Home() : agentDir) + kSettingsFileName;
}

std::string TForm5::UnfinishedMove() const
{
    return ReadMoveTarget(SettingsFile());
}

void TForm5::HoldRowUnderPointer()
{
    // Where the row under the pointer is now; taken while the listing is as the user sees
    // it, since the view forgets its rows as soon as a change begins.
    if (m_restoring)
        return;
    const QPoint at = m_list->viewport()->mapFromGlobal(QCursor::pos());
    const QModelIndex row = m_list->viewport()->rect().contains(at) ? m_list->indexAt(at) : QModelIndex();
    m_anchorPath = row.isValid() ? m_model->filePath(row) : QString();
    m_anchorTop = row.isValid() ? m_list->visualRect(row).top() : 0;
}

void TForm5::RestoreRowUnderPointer()
{
    if (m_reveal && m_list->currentIndex().isValid())
        m_list->scrollTo(m_list->currentIndex());
    const QModelIndex row = m_anchorPath.isEmpty() ? QModelIndex() : m_model->index(m_anchorPath);
    if (!row.isValid() || row.parent() != m_list->rootIndex())
        return;
    m_restoring = true;
    m_list->doItemsLayout();
    QScrollBar* bar = m_list->verticalScrollBar();
    bar->setValue(bar->value() + m_list->visualRect(row).top() - m_anchorTop);
    m_restoring = false;
}

bool TForm5::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport()) {
        switch (event->type()) {
        case QEvent::Wheel:
        case QEvent::MouseButtonPress:
            m_reveal = false; // the user looks elsewhere now
            [[fallthrough]];
        case QEvent::MouseMove:
        case QEvent::Enter:
        case QEvent::Leave:
            // After the event: a wheel scrolls first.
            QTimer::singleShot(0, this, &TForm5::HoldRowUnderPointer);
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::string TForm5::Text(TextSlot slot) const
{
    const std::string text = m_block ? m_block->Text(slot) : std::string();
    return text.empty() && kTextSlots[slot].Default ? kTextSlots[slot].Default : text;
}

std::string TForm5::CurrentFolder() const
{
    return WithTrailingSep(m_model->filePath(m_list->rootIndex()).toStdString());
}

void TForm5::SetCurrentFolder(const std::string& folder)
{
    std::string path = folder.empty() ? std::string("/") : folder;
    // A folder that went away: its nearest existing parent.
    while (path.size() > 1 && !DirectoryExists(path))
        path = FolderPart(WithoutTrailingSep(path));
    if (path.empty())
        path = "/";
    m_list->setRootIndex(m_model->index(Q(WithoutTrailingSep(path))));
    m_list->clearSelection();
    m_list->setCurrentIndex(QModelIndex());
    m_pathEdit->clear();
    FillCombo();
    ShellComboBox1Change();
}

void TForm5::FillCombo()
{
    // The chain from the root down to the current folder, each a step further in.
    m_combo->clear();
    const std::string current = CurrentFolder();
    std::string path = "/";
    m_combo->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), "/", "/");
    int depth = 1;
    for (std::size_t at = 1; at < current.size();) {
        const std::size_t next = current.find(kPathSep, at);
        const std::string name = current.substr(at, next - at);
        path += name + "/";
        m_combo->addItem(style()->standardIcon(QStyle::SP_DirIcon), QString(depth * 2, ' ') + Q(name),
                         Q(path));
        ++depth;
        at = next == std::string::npos ? current.size() : next + 1;
    }
    m_combo->setCurrentIndex(m_combo->count() - 1);
}

std::string TForm5::SelectedFolder() const
{
    const std::string typed = m_pathEdit->text().trimmed().toStdString();
    return typed.size() > 1 ? WithoutTrailingSep(typed) : typed;
}

void TForm5::SelectFolder(const std::string& name)
{
    const QModelIndex index = m_model->index(Q(CurrentFolder() + name));
    if (index.isValid()) {
        m_list->setCurrentIndex(index);
        m_list->scrollTo(index);
        m_reveal = true; // the folder is still being read: in view again as rows come in
    }
}

void TForm5::PathEditReturn()
{
    std::string path = SelectedFolder();
    if (path.starts_with("~/") || path == "~")
        path = WithoutTrailingSep(HomeDir() + path.substr(std::min<std::size_t>(path.size(), 2)));
    if (path.empty())
        return;
    if (path.front() != kPathSep || !DirectoryExists(path)) {
        MessageBoxes::Show(BoxKind::Warning, Text(TxtMesFolderNotExists) + ": " + path, BoxButtons::Ok,
                           BoxAnswer::Ok, this);
        return;
    }
    if (path == "/") {
        SetCurrentFolder(path);
        m_pathEdit->setText(Q(path));
        return;
    }
    SetCurrentFolder(FolderPart(path));
    SelectFolder(NamePart(path));
    m_pathEdit->setText(Q(path));
}

void TForm5::OpenFolder(const QModelIndex& index)
{
    if (index.isValid())
        SetCurrentFolder(m_model->filePath(index).toStdString());
}

void TForm5::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm5::FormShow()
{
    // The folder holding the backup folder, so the backup folder is among those listed;
    // while a move is unfinished, the one holding its destination, which alone is taken.
    const std::string pending = WithoutTrailingSep(UnfinishedMove());
    const std::string backup = pending.empty() ? WithoutTrailingSep(m_backupPath) : pending;
    SetCurrentFolder(backup.empty() ? HomeDir() : FolderPart(backup));
    if (!backup.empty())
        SelectFolder(NamePart(backup));
    m_unfinished->setVisible(!pending.empty());
    if (!pending.empty()) {
        m_unfinished->setText(Q(BackupMove::UnfinishedText(LanguageFile(), pending, m_backupPath) + " " +
                                MoveText(LanguageFile(), "MesMoveFinishWithChange", "Change finishes it.")));
        m_pathEdit->setText(Q(pending));
    }
    m_list->setFocus();
}

void TForm5::FolderUpClick()
{
    const std::string current = WithoutTrailingSep(CurrentFolder());
    if (current == "/")
        return;
    SetCurrentFolder(FolderPart(current));
}

void TForm5::FolderNewClick()
{
    std::string name = kNewFolderName;
    m_list->setFocus();
    while (DirectoryExists(CurrentFolder() + name) || FileExists(CurrentFolder() + name))
        name = "Copy " + name;
    const QModelIndex index = m_model->mkdir(m_list->rootIndex(), Q(name));
    if (!index.isValid()) {
        MessageBoxes::Show(BoxKind::Warning,
                           MoveText(LanguageFile(), "MesMoveFolderNotMade",
                                    "The folder \"%1\" cannot be created.", {CurrentFolder() + name}),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    // Named at once: the user types over the proposed name.
    m_list->setCurrentIndex(index);
    m_list->edit(index);
}

void TForm5::ShellComboBox1Change()
{
    const bool compresses = DriveSupportsCompression(CurrentFolder());
    m_compression->setEnabled(compresses);
    m_compression->setChecked(compresses);
}

BackupMovePlan TForm5::MakePlan(const std::string& destination) const
{
    BackupMovePlan plan;
    plan.OldRoot = m_backupPath;
    plan.NewRoot = destination;
    plan.LanguageFile = LanguageFile();
    for (const auto& item : m_items.Files())
        plan.Items.push_back({item->FileID(), item->Path()});
    for (const auto& folder : m_items.Folders())
        plan.WatchedFolders.push_back(folder->Path());
    plan.SettingsFile = SettingsFile();
    if (m_block) {
        SharedBlock* block = m_block;
        plan.Hold = [block] {
            return AgentLink(block).RequestHold(kHoldTimeout);
        };
        plan.Release = [block] {
            AgentLink(block).RequestReinit();
        };
    }
    return plan;
}

void TForm5::ChangeButtonClick()
{
    const std::string dest = SelectedFolder();
    if (dest.empty())
        return;
    if (!DirectoryExists(dest)) {
        MessageBoxes::Show(BoxKind::Warning, Text(TxtMesFolderNotExists), BoxButtons::Ok, BoxAnswer::Ok,
                           this);
        return;
    }
    if (m_backupPath.empty()) {
        MessageBoxes::Show(
            BoxKind::Warning,
            MoveText(LanguageFile(), "MesMoveRootUnknownNothing",
                     "The backup folder in use is not known (is the agent running?), so nothing "
                     "was moved."),
            BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    const BackupMovePlan plan = MakePlan(dest);
    // Nothing changes on a destination that is refused, not even its compression.
    if (const std::string refusal = BackupMove::CheckDestination(plan); !refusal.empty()) {
        m_lastResult = {};
        m_lastResult.Text = refusal;
        MessageBoxes::Show(BoxKind::Warning, refusal, BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (m_compression->isChecked()) {
        if (DriveSupportsCompression(dest)) {
            try {
                SetFileCompression(dest, 1);
            } catch (const std::exception& e) {
                MessageBoxes::Show(BoxKind::Error, e.what(), BoxButtons::Ok, BoxAnswer::Ok, this);
                return;
            }
        } else {
            MessageBoxes::Show(BoxKind::Information,
                               Text(TxtMesDriveNotCompression) + " " + WithTrailingSep(dest), BoxButtons::Ok,
                               BoxAnswer::Ok, this);
        }
    }
    m_control.Parent = this;
    m_lastResult = BackupMove::Run(plan, m_control);
    if (m_lastResult.Outcome == BackupMoveResult::Done) {
        m_backupPath = WithTrailingSep(dest);
        accept();
        return;
    }
    // A dialog closed under the move (the agent asked the monitor to close) says nothing.
    if (!isVisible())
        return;
    MessageBoxes::Show(m_lastResult.Outcome == BackupMoveResult::Cancelled ? BoxKind::Information
                                                                           : BoxKind::Warning,
                       m_lastResult.Text, BoxButtons::Ok, BoxAnswer::Ok, this);
}

} // namespace morvane::monitor
