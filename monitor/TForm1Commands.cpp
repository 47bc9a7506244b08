// The item commands of the file list.
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"
#include "support/components/MessageBoxes.h"

#include <QTreeWidget>

namespace morvane::monitor {

void TForm1::AddButtonClick()
{
    const auto file = FileDialogs::OpenFile(this);
    if (!file)
        return;
    if (!FitsShortText(*file)) {
        MessageBoxes::Show(BoxKind::Error,
                           "The path is longer than 255 bytes and cannot be monitored: " + *file,
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (!EnsureAgent())
        return;
    // The row comes with the agent's answer, which carries the item's FileID.
    AddMonFile(*file, "", true);
}

void TForm1::RemoveButtonClick()
{
    const int index = SelectedItemIndex();
    if (index < 0)
        return;
    // Removing deletes the stored versions here at once: never without an agent that
    // takes the item off its list too, or the item would come back without its history.
    if (!EnsureAgent())
        return;
    DeleteMonFile(index, {}, true);
    m_versionLines.clear();
    m_verList->Clear();
    UpdateActions();
}

void TForm1::StartMonButtonClick()
{
    const int index = SelectedItemIndex();
    if (index < 0 || !EnsureAgent())
        return;
    StateMonFile(1, index, true);
}

void TForm1::StopMonButtonClick()
{
    const int row = m_fileList->Selected();
    if (row < 0 || ItemIndexOfRow(row) < 0 || !EnsureAgent())
        return;
    // The stop goes out at once, as the start does, rather than waiting for the next
    // click in the list to notice the cleared check box.
    m_fileListTag = 1;
    m_fileList->SetChecked(row, false);
    m_fileListTag = 0;
    FileListClick();
    FileListChange();
}

void TForm1::FileListClick()
{
    for (int row = 0; row < m_fileList->RowCount(); ++row) {
        const int index = ItemIndexOfRow(row);
        if (index < 0)
            continue;
        const bool checked = m_fileList->Checked(row);
        if (checked == m_items->GetFile(index)->Monitored())
            continue;
        if (!EnsureAgent()) {
            // Nothing was sent: the check box shows the item's state again.
            m_fileListTag = 1;
            m_fileList->SetChecked(row, !checked);
            m_fileListTag = 0;
            return;
        }
        StateMonFile(checked ? 1 : 0, index, true);
        return;
    }
}

void TForm1::Makeversion1Click()
{
    const int index = SelectedItemIndex();
    if (index < 0 || !EnsureAgent())
        return;
    SendFailed(m_link.RequestMake(m_items->GetFile(index)->Path()));
}

void TForm1::ClearHistoryClick()
{
    const int index = SelectedItemIndex();
    if (index < 0 || !EnsureAgent())
        return;
    SendFailed(m_link.RequestClear(m_items->GetFile(index)->Path()));
    FileListChange();
}

void TForm1::Maptoanother1Click()
{
    const int index = SelectedItemIndex();
    if (index < 0)
        return;
    const auto file = FileDialogs::OpenFile(this);
    if (!file || !EnsureAgent())
        return;
    const auto item = m_items->GetFile(index);
    const std::string oldFolder = FolderPart(item->Path());
    const TMonItemRecord before = item->Data();
    try {
        item->UpdateData([](TMonItemRecord& record) {
            record.MonStatus = msActive;
            record.Monitored = true;
        });
        item->Reassign(*file);
    } catch (const std::exception& e) {
        item->SetData(before);
        MessageBoxes::Show(BoxKind::Error, std::string("The file cannot be reassigned: ") + e.what(),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    const std::string newFolder = FolderPart(*file);
    if (newFolder != oldFolder)
        UpdateFoldersTree(newFolder);
    if (m_tree->currentItem())
        FoldersTreeChange(m_tree->currentItem());
    else if (m_tree->topLevelItemCount() > 0)
        m_tree->setCurrentItem(m_tree->topLevelItem(0));
    SendFailed(m_link.RequestUpdate(item->Data(), 0));
    UpdateStatusBar();
}

void TForm1::Open2Click()
{
    const int index = SelectedItemIndex();
    if (index < 0)
        return;
    const std::string path = m_items->GetFile(index)->Path();
    Open({{}, path, FolderPart(path)});
}

void TForm1::FileListChange()
{
    VersionsClick();
    UpdateActions();
}

} // namespace morvane::monitor
