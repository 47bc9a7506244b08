// The file list and folders tree kept in step with the engine copy.
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/ShellIcons.h"
#include "monitor/TForm1.h"
#include "platform/DirListing.h"
#include "platform/Paths.h"
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace morvane::monitor {

namespace {

// Node data: the folder the node stands for, the index of its folder item when the node
// was made (-1: none; only its sign is used), and for a top node the root it stands for.
constexpr int kPathRole = Qt::UserRole;
constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kRootRole = Qt::UserRole + 2;

const QColor kBrokenColour(255, 0, 0);
const QColor kStoppedFolderColour(128, 128, 128);

// Top nodes stand for the roots a folder can lie under: the user's home folder ("~")
// and the file system's root ("/").
std::string HomeRoot()
{
    const std::string home = WithTrailingSep(QDir::homePath().toStdString());
    return home == kPathSepText ? std::string() : home;
}

std::string RootOf(const std::string& folder)
{
    const std::string home = HomeRoot();
    if (!home.empty() && folder.compare(0, home.size(), home) == 0)
        return home;
    return std::string(kPathSepText);
}

QString RootText(const std::string& root)
{
    return root == kPathSepText ? QStringLiteral("/") : QStringLiteral("~");
}

// The folder below its root without the trailing "/": "Docs/Work" for ~/Docs/Work/.
std::string RestOf(const std::string& folder, const std::string& root)
{
    std::string rest = folder.substr(std::min(root.size(), folder.size()));
    while (!rest.empty() && rest.back() == kPathSep)
        rest.pop_back();
    return rest;
}

// The check box captions of the properties dialog give the flag letters (the character
// after the first "(", else the first one), so a translation of the captions changes them.
QString CheckCaption(const char* name, const char* builtIn)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != "Form2")
            continue;
        if (const auto* check = top->findChild<QAbstractButton*>(name))
            return check->text();
    }
    return QString::fromUtf8(builtIn);
}

QString FlagLetter(const QString& caption)
{
    const auto open = caption.indexOf('(');
    if (open >= 0 && open + 1 < caption.size())
        return caption.mid(open + 1, 1);
    return caption.left(1);
}

// Starts or stops a record. A broken item, or one whose file or folder is gone, is not
// watched; returns the status text the item's row shows.
TextSlot ApplyState(TMonItemRecord& record, int state, bool exists)
{
    record.Monitored = state != 0;
    if (record.MonStatus == msBroken) {
        record.Monitored = false;
        return TxtItemStatusBroken;
    }
    if (state == 0) {
        record.MonStatus = msDisabled;
        return TxtItemStatusDisabled;
    }
    if (exists) {
        record.MonStatus = msActive;
        return TxtItemStatusActive;
    }
    record.Monitored = false;
    return TxtItemStatusBroken;
}

} // namespace

bool TForm1::ResolveIndex(int& index, const std::function<int()>& find, const char* notFound)
{
    if (index < 0)
        index = find();
    if (index >= 0)
        return true;
    MessageBoxes::Show(BoxKind::Information, notFound, BoxButtons::Ok, BoxAnswer::Ok, this);
    return false;
}

void TForm1::ShowFileRow(const std::shared_ptr<TRKMonItem>& item, int row)
{
    const std::string path = item->Path();
    m_fileList->SetCaption(row, QString::fromStdString(NamePart(path)));
    m_fileList->SetSubItem(row, 1, QString::fromStdString(FolderPart(path)));
    m_fileList->SetChecked(row, item->Monitored());
    m_fileList->SetIcon(row, ShellFileIcon(path));
    InitFileListItem(item, row);
}

std::string TForm1::FlagLetters(const TMonItemRecord& record) const
{
    QString letters;
    if (record.MonModeConfirmation)
        letters += FlagLetter(CheckCaption("MakeAskCheck", "Ask confiramtion (A)"));
    if (record.MonModeCompare)
        letters += FlagLetter(CheckCaption("MakeCompareCheck", "Compare byte by byte (C)"));
    if (record.MonModeSize)
        letters += FlagLetter(CheckCaption("MakeSizeCheck", "Compare file sizes (S)"));
    return letters.toStdString();
}

int TForm1::ItemIndexOfRow(int row) const
{
    if (row < 0 || row >= m_fileList->RowCount())
        return -1;
    return m_items->FindByPath((m_fileList->SubItem(row, 1) + m_fileList->Caption(row)).toStdString());
}

int TForm1::RowOfPath(const std::string& path) const
{
    const QString wanted = QString::fromStdString(path);
    for (int row = m_fileList->RowCount() - 1; row >= 0; --row)
        if (m_fileList->SubItem(row, 1) + m_fileList->Caption(row) == wanted)
            return row;
    return -1;
}

int TForm1::SelectedItemIndex() const
{
    return ItemIndexOfRow(m_fileList->Selected());
}

void TForm1::InitFileListItem(const std::shared_ptr<TRKMonItem>& item, int row)
{
    if (!item)
        return;
    const TMonItemRecord record = item->Data();
    const std::string path = record.Path.Get();
    // Names differ by case on this system, so a row is found by its whole path.
    if (row < 0)
        row = RowOfPath(path);
    if (row < 0)
        return;
    m_fileList->SetCaption(row, QString::fromStdString(NamePart(path)));

    switch (record.MonStatus) {
    case msDisabled:
        m_fileList->SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusDisabled)));
        break;
    case msActive:
        m_fileList->SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusActive)));
        break;
    case msBroken:
        m_fileList->SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusBroken)));
        break;
    }
    m_fileList->SetSubItem(row, 1, QString::fromStdString(FolderPart(path)));

    std::string mode;
    switch (record.MonMode) {
    case mmAlways:
        mode = Text(TxtMakeAlways);
        break;
    case mmInterval:
        mode = Text(TxtMakeInterval);
        break;
    case mmNumber:
        mode = Text(TxtMakeNumber);
        break;
    default:
        mode = m_fileList->SubItem(row, 2).toStdString();
    }
    const std::string letters = FlagLetters(record);
    if (!letters.empty())
        mode += ", " + letters;
    m_fileList->SetSubItem(row, 2, QString::fromStdString(mode));

    std::vector<std::string> lines;
    if (m_block)
        ListItemVersions(m_block->Settings, record, lines);
    std::string versions = std::to_string(lines.size());
    if (record.DelMode == dmNumber)
        versions += "/" + std::to_string(record.DelModeNumber);
    else if (record.DelMode == dmInterval)
        versions += "/Period";
    m_fileList->SetSubItem(row, 3, QString::fromStdString(versions));
}

void TForm1::AddMonFile(const std::string& path, const std::string& fileId, bool notify)
{
    if (!fileId.empty() && m_block) {
        // The agent has confirmed the item: its folder comes first, then its row.
        TMonItemRecord folderRecord = m_block->ItemRecord;
        folderRecord.Path.Set(FolderPart(path));
        AddMonFolderRecord(folderRecord);

        int index = m_items->FindByFileID(fileId);
        m_fileListTag = 1;
        int row = -1;
        if (index < 0) {
            TMonItemRecord record = EmptyItemRecord();
            SetRecordPath(record, path);
            m_items->Add(record, fileId);
            index = m_items->FindByPath(path);
        } else {
            row = RowOfPath(m_items->GetFile(index)->Path());
        }
        const auto item = m_items->GetFile(index);
        if (item && item->Path() != path) {
            // The agent has reassigned the item to another file: it moves here too.
            ReassignedByAgent(item, path);
            m_fileListTag = 0;
            UpdateStatusBar();
            UpdateActions();
            return;
        }
        if (item) {
            item->SetData(m_block->ItemRecord);
            if (row < 0)
                row = RowOfPath(path);
            // A confirmed item in the folder on show gets its row; one of another folder
            // shows when that folder is chosen.
            if (row < 0 && FolderIndexOfNode(m_tree->currentItem()) >= 0 &&
                NodePath(m_tree->currentItem()) == FolderPart(path))
                row = m_fileList->AddRow();
            if (row >= 0)
                ShowFileRow(item, row);
        }
        m_fileListTag = 0;
    }
    if (notify) {
        TMonItemRecord request = EmptyItemRecord();
        SetRecordPath(request, path);
        request.IsFolder = false;
        SendFailed(m_link.RequestAdd(request));
    }
    UpdateStatusBar();
    UpdateActions();
}

void TForm1::ReassignedByAgent(const std::shared_ptr<TRKMonItem>& item, const std::string& path)
{
    try {
        item->Reassign(path);
        item->SetData(m_block->ItemRecord);
    } catch (const std::exception& e) {
        qWarning("The agent's reassignment could not be followed: %s", e.what());
        return;
    }
    // The file's new folder is on show (the answer's folder was selected): its rows are
    // built again, and the moved file is selected.
    if (m_tree->currentItem())
        FoldersTreeChange(m_tree->currentItem());
    const int row = RowOfPath(path);
    if (row >= 0)
        m_fileList->SetSelected(row);
}

void TForm1::AddMonFolder()
{
    if (m_block)
        AddMonFolderRecord(m_block->ItemRecord);
}

void TForm1::AddMonFolderRecord(const TMonItemRecord& record)
{
    const std::string path = record.Path.Get();
    if (path.empty() || path.back() != kPathSep) {
        qWarning("A folder record without a folder path was ignored: %s", path.c_str());
        return;
    }
    m_items->Add(record, "");
    UpdateFoldersTree(path);
}

QTreeWidgetItem* TForm1::FindNode(const std::string& folder) const
{
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = m_tree->topLevelItem(i);
        if (NodePath(top) == folder)
            found = top;
        for (int j = 0; j < top->childCount(); ++j)
            if (NodePath(top->child(j)) == folder)
                found = top->child(j);
    }
    return found;
}

QTreeWidgetItem* TForm1::FirstNodeWithFiles() const
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        const int index = FolderIndexOfNode(*it);
        if (index >= 0 && !m_items->GetFolder(index)->Files().empty())
            return *it;
    }
    return nullptr;
}

void TForm1::UpdateFoldersTree(const std::string& folder)
{
    const std::string root = RootOf(folder);
    const std::string rest = RestOf(folder, root);

    QTreeWidgetItem* rootNode = nullptr;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        if (m_tree->topLevelItem(i)->data(0, kRootRole).toString().toStdString() == root)
            rootNode = m_tree->topLevelItem(i);
    if (!rootNode) {
        rootNode = new QTreeWidgetItem(m_tree, {RootText(root)});
        rootNode->setIcon(0, ShellFolderIcon());
        rootNode->setToolTip(0, QString::fromStdString(root));
        rootNode->setData(0, kRootRole, QString::fromStdString(root));
        rootNode->setData(0, kPathRole, QString::fromStdString(root));
        rootNode->setData(0, kIndexRole, m_items->FindFolder(root));
    }
    QTreeWidgetItem* node = rootNode;
    if (!rest.empty()) {
        node = nullptr;
        const QString text = QString::fromStdString(rest);
        for (int i = 0; i < rootNode->childCount(); ++i)
            if (rootNode->child(i)->text(0) == text)
                node = rootNode->child(i);
        if (!node) {
            node = new QTreeWidgetItem(rootNode, {text});
            node->setIcon(0, ShellFolderIcon());
            node->setToolTip(0, QString::fromStdString(folder));
        }
    }
    node->setData(0, kPathRole, QString::fromStdString(folder));
    node->setData(0, kIndexRole, m_items->FindFolder(folder));
    rootNode->setExpanded(true);
    m_tree->sortItems(0, Qt::AscendingOrder);
    m_tree->setCurrentItem(node);
    RefreshTreeColours();
}

void TForm1::DeleteMonFile(int index, const std::string& path, bool notify)
{
    if (!ResolveIndex(
            index, [&] { return m_items->FindByPath(path); }, "Delete handler: Item not found"))
        return;
    const auto item = m_items->GetFile(index);
    if (!item)
        return;
    const std::string p = item->Path();
    if (notify) {
        // Only the agent removes an item and its history: the row goes on its answer.
        SendFailed(m_link.RequestDelete(p));
        return;
    }
    m_items->RemoveFile(index);
    m_fileListTag = 1;
    const int row = RowOfPath(p);
    const bool wasSelected = row >= 0 && row == m_fileList->Selected();
    if (row >= 0)
        m_fileList->RemoveRow(row);
    m_fileListTag = 0;
    if (wasSelected) {
        m_versionLines.clear();
        m_verList->Clear();
    }
    UpdateStatusBar();
    UpdateActions();
}

void TForm1::StateMonFile(int state, int index, bool notify)
{
    const auto find = [&] {
        return m_block ? m_items->FindByPath(m_block->ItemRecord.Path.Get()) : -1;
    };
    if (!ResolveIndex(index, find, "Start/Stop handler: Item not found"))
        return;
    const auto item = m_items->GetFile(index);
    if (!item)
        return;
    const std::string p = item->Path();
    if (notify) {
        // The row changes on the agent's answer; until then it shows the item as it is.
        const int row = RowOfPath(p);
        if (row >= 0) {
            m_fileListTag = 1;
            m_fileList->SetChecked(row, item->Monitored());
            m_fileListTag = 0;
        }
        SendFailed(m_link.RequestState(state, p));
        return;
    }
    const bool exists = FileExists(p);
    TextSlot status = TxtItemStatusDisabled;
    item->UpdateData([&](TMonItemRecord& record) { status = ApplyState(record, state, exists); });
    m_fileListTag = 1;
    const int row = RowOfPath(p);
    if (row >= 0) {
        m_fileList->SetChecked(row, item->Monitored());
        m_fileList->SetSubItem(row, 0, QString::fromStdString(Text(status)));
    }
    m_fileListTag = 0;
    m_fileList->Repaint();
    UpdateActions();
}

void TForm1::StateMonFolder(int state, int index, bool notify)
{
    const auto find = [&] {
        return m_block ? m_items->FindFolder(m_block->ItemRecord.Path.Get()) : -1;
    };
    if (!ResolveIndex(index, find, "Start/Stop handler: Item not found"))
        return;
    const auto folder = m_items->GetFolder(index);
    if (!folder)
        return;
    const std::string p = folder->Path();
    if (notify) {
        // The folder changes on the agent's answer.
        SendFailed(m_link.RequestState(state, p));
        return;
    }
    const bool exists = DirectoryExists(p);
    folder->UpdateData([&](TMonItemRecord& record) { ApplyState(record, state, exists); });
    RepaintViews();
}

void TForm1::UpdateStatusBar()
{
    const int files = m_items->FileCount();
    if (files == 0)
        m_statusPanel->setText(QString::fromStdString(Text(TxtStatusBarNoFiles)));
    else
        m_statusPanel->setText(QString::fromStdString(Text(TxtStatusBarFiles) + " " + std::to_string(files)));
}

std::string TForm1::NodePath(QTreeWidgetItem* node) const
{
    if (!node)
        return {};
    if (!node->parent())
        return node->data(0, kRootRole).toString().toStdString();
    return node->parent()->data(0, kRootRole).toString().toStdString() + node->text(0).toStdString() +
           std::string(kPathSepText);
}

int TForm1::FolderIndexOfNode(QTreeWidgetItem* node) const
{
    if (!node)
        return -1;
    return m_items->FindFolder(NodePath(node));
}

void TForm1::FoldersTreeChange(QTreeWidgetItem* node)
{
    if (!m_treeLoaded)
        return;
    m_fileListTag = 1;
    m_fileList->Clear();
    m_verList->Clear();
    m_versionLines.clear();
    const int index = FolderIndexOfNode(node);
    const auto folder = index >= 0 ? m_items->GetFolder(index) : nullptr;
    if (folder) {
        for (const auto& item : folder->Files())
            ShowFileRow(item, m_fileList->AddRow());
    }
    m_fileListTag = 0;
    m_fileList->Repaint();
    UpdateActions();
}

void TForm1::DeleteMonFolder(const std::string& path)
{
    const int index = m_items->FindFolder(path);
    if (index < 0)
        return;
    m_items->RemoveFolder(index);
    if (QTreeWidgetItem* node = FindNode(path))
        RemoveFolderNode(node);
    UpdateStatusBar();
    UpdateActions();
}

void TForm1::RemoveFolderNode(QTreeWidgetItem* node)
{
    m_fileListTag = 1;
    m_fileList->Clear();
    m_verList->Clear();
    m_versionLines.clear();
    m_fileListTag = 0;
    if (!node->parent()) {
        node->setData(0, kIndexRole, -1);
        return;
    }
    QTreeWidgetItem* rootNode = node->parent();
    if (rootNode->childCount() == 1 && FolderIndexOfNode(rootNode) < 0)
        delete rootNode;
    else
        delete node;
}

std::optional<QColor> TForm1::FileRowColour(int row) const
{
    const int index = ItemIndexOfRow(row);
    if (index < 0)
        return std::nullopt;
    std::optional<QColor> colour;
    if (m_items->GetFile(index)->MonStatus() == msBroken)
        colour = kBrokenColour;
    if (m_listLoaded && m_tree->currentItem()) {
        const auto folder = m_items->FolderByPath(NodePath(m_tree->currentItem()));
        if (folder && !folder->Monitored())
            colour = kStoppedFolderColour;
    }
    return colour;
}

void TForm1::RefreshTreeColours()
{
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = m_tree->topLevelItem(i);
        std::vector<QTreeWidgetItem*> nodes{top};
        for (int j = 0; j < top->childCount(); ++j)
            nodes.push_back(top->child(j));
        for (QTreeWidgetItem* node : nodes) {
            const auto folder = m_listLoaded ? m_items->FolderByPath(NodePath(node)) : nullptr;
            if (folder && !folder->Monitored())
                node->setForeground(0, kStoppedFolderColour);
            else
                node->setData(0, Qt::ForegroundRole, QVariant());
        }
    }
}

void TForm1::RepaintViews()
{
    RefreshTreeColours();
    m_fileList->Repaint();
}

} // namespace morvane::monitor
