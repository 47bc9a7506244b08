// The item commands of the file list.
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"

#include <QAction>
#include <QTreeWidget>
#include <optional>

namespace morvane::monitor {

void TForm1::AddButtonClick()
{
    const auto file = FileDialogs::OpenFile(this, Action("aAdd")->statusTip());
    if (!file)
        return;
    if (!FitsShortText(*file)) {
        MessageBoxes::Show(BoxKind::Error, Message(MonitorText::PathTooLong, {*file}), BoxButtons::Ok,
                           BoxAnswer::Ok, this);
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
    if (index < 0 || !EnsureAgent())
        return;
    // Only the agent removes the item and its history; the row goes with its answer.
    DeleteMonFile(index, {}, true);
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
    const int index = SelectedItemIndex();
    if (index < 0 || !EnsureAgent())
        return;
    StateMonFile(0, index, true);
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
            m_fileList->SetTag(1);
            m_fileList->SetChecked(row, !checked);
            m_fileList->SetTag(0);
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
    const std::string current = m_items->GetFile(index)->Path();
    const auto file = FileDialogs::OpenFile(this, Action("aReassing")->text().remove('&') + ": " +
                                                      QString::fromStdString(NamePart(current)));
    if (!file || !EnsureAgent())
        return;
    TMonItemRecord record = m_items->GetFile(index)->Data();
    std::optional<MonitorText> problem;
    if (file->empty() || file->front() != kPathSep || file->back() == kPathSep)
        problem = MonitorText::ReassignNotAbsolute;
    else if (!FitsShortText(*file))
        problem = MonitorText::ReassignTooLong;
    else if (file->find_first_of("\r\n") != std::string::npos)
        problem = MonitorText::ReassignLineBreak;
    if (problem) {
        MessageBoxes::Show(BoxKind::Error, Message(MonitorText::ReassignRefused, {Message(*problem), *file}),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    // The agent removes an item monitored at the new path, history and all: never unasked.
    if (const auto other = m_items->FileByPath(*file); other && other->FileID() != record.FileID.Get()) {
        const std::size_t versions = m_block ? CountItemVersions(m_block->Settings, other->Data()) : 0;
        const std::string question =
            Message(MonitorText::ReassignReplacesFile,
                    {*file, CountOf(versions, MonitorText::VersionCountOne, MonitorText::VersionCountMany)});
        if (MessageBoxes::Show(BoxKind::Confirmation, question, BoxButtons::YesNo, BoxAnswer::No, this) !=
            BoxAnswer::Yes)
            return;
    }
    record.Path.Set(*file);
    record.MonStatus = msActive;
    record.Monitored = true;
    // The row moves to the new path on the agent's answer; an agent that refuses the
    // path leaves the row and its own item as they were.
    SendFailed(m_link.RequestUpdate(record, 0));
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
