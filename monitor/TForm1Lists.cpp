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

int TForm1::ItemIndexOfRow(int row) const
{
    return m_fileList->ItemIndexOfRow(row);
}

int TForm1::RowOfPath(const std::string& path) const
{
    return m_fileList->RowOfPath(path);
}

int TForm1::SelectedItemIndex() const
{
    return m_fileList->SelectedItemIndex();
}

void TForm1::InitFileListItem(const std::shared_ptr<TRKMonItem>& item, int row)
{
    m_fileList->InitRow(item, row);
}

void TForm1::AddMonFile(const std::string& path, const std::string& fileId, bool notify)
{
    if (!fileId.empty() && m_block) {
        // The agent has confirmed the item: its folder comes first, then its row.
        TMonItemRecord folderRecord = AnswerRecord();
        folderRecord.Path.Set(FolderPart(path));
        AddMonFolderRecord(folderRecord);

        int index = m_items->FindByFileID(fileId);
        m_fileList->SetTag(1);
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
            m_fileList->SetTag(0);
            UpdateStatusBar();
            UpdateActions();
            return;
        }
        if (item) {
            item->SetData(AnswerRecord());
            if (row < 0)
                row = RowOfPath(path);
            // A confirmed item in the folder on show gets its row; one of another folder
            // shows when that folder is chosen.
            if (row < 0 && FolderIndexOfNode(m_tree->currentItem()) >= 0 &&
                NodePath(m_tree->currentItem()) == FolderPart(path))
                row = m_fileList->AddRow();
            if (row >= 0)
                m_fileList->ShowRow(item, row);
        }
        m_fileList->SetTag(0);
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
        item->SetData(AnswerRecord());
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
        AddMonFolderRecord(AnswerRecord());
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
    return m_tree->FindNode(folder);
}

void TForm1::UpdateFoldersTree(const std::string& folder)
{
    m_tree->ShowFolder(folder);
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
    m_fileList->SetTag(1);
    const int row = RowOfPath(p);
    const bool wasSelected = row >= 0 && row == m_fileList->Selected();
    if (row >= 0)
        m_fileList->RemoveRow(row);
    m_fileList->SetTag(0);
    if (wasSelected) {
        m_verList->ClearVersions();
    }
    UpdateStatusBar();
    UpdateActions();
}

void TForm1::StateMonFile(int state, int index, bool notify)
{
    const auto find = [&] {
        return m_block ? m_items->FindByPath(AnswerRecord().Path.Get()) : -1;
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
            m_fileList->SetTag(1);
            m_fileList->SetChecked(row, item->Monitored());
            m_fileList->SetTag(0);
        }
        SendFailed(m_link.RequestState(state, p));
        return;
    }
    const bool exists = FileExists(p);
    TextSlot status = TxtItemStatusDisabled;
    item->UpdateData([&](TMonItemRecord& record) { status = ApplyState(record, state, exists); });
    m_fileList->SetTag(1);
    const int row = RowOfPath(p);
    if (row >= 0) {
        m_fileList->SetChecked(row, item->Monitored());
        m_fileList->SetSubItem(row, 0, QString::fromStdString(Text(status)));
    }
    m_fileList->SetTag(0);
    m_fileList->Repaint();
    UpdateActions();
}

void TForm1::StateMonFolder(int state, int index, bool notify)
{
    const auto find = [&] {
        return m_block ? m_items->FindFolder(AnswerRecord().Path.Get()) : -1;
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
    return m_tree->NodePath(node);
}

int TForm1::FolderIndexOfNode(QTreeWidgetItem* node) const
{
    return m_tree->FolderIndexOfNode(node);
}

void TForm1::FoldersTreeChange(QTreeWidgetItem* node)
{
    if (!m_tree->Loaded())
        return;
    m_verList->ClearVersions();
    const int index = FolderIndexOfNode(node);
    m_fileList->ShowFolder(index >= 0 ? m_items->GetFolder(index) : nullptr);
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
    m_fileList->SetTag(1);
    m_fileList->Clear();
    m_verList->ClearVersions();
    m_fileList->SetTag(0);
    m_tree->RemoveFolderNode(node);
}

std::optional<QColor> TForm1::FileRowColour(int row) const
{
    return m_fileList->RowColour(row, m_tree->StoppedFolderSelected());
}

void TForm1::RefreshTreeColours()
{
    m_tree->RefreshColours(m_fileList->Loaded());
}

void TForm1::RepaintViews()
{
    RefreshTreeColours();
    m_fileList->Repaint();
}

} // namespace morvane::monitor
