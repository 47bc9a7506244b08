// The versions list of the selected file.
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/ShellIcons.h"
#include "monitor/TForm1.h"
#include "monitor/VersionLine.h"
#include "platform/DirListing.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QStatusBar>

namespace morvane::monitor {

void TForm1::VersionsClick()
{
    const int row = m_fileList->Selected();
    if (row < 0)
        return;
    const int index = ItemIndexOfRow(row);
    if (index < 0 || !m_block) {
        m_verList->ClearVersions();
        UpdateActions();
        return;
    }
    const auto item = m_items->GetFile(index);
    const TMonItemRecord record = item->Data();
    m_verList->ShowVersions(&record);
    // The row's count follows what the list shows now.
    InitFileListItem(item, row);
    UpdateActions();
}

void TForm1::Report1Click()
{
    m_verList->ShowReport();
}

void TForm1::VerListDblClick()
{
    if (const auto parsed = m_verList->SelectedVersion())
        Open({parsed->Program, parsed->Path, parsed->Folder});
}

void TForm1::Openlocation1Click()
{
    if (const auto parsed = m_verList->SelectedVersion())
        Open({{}, parsed->Folder, parsed->Folder});
}

void TForm1::DeleteVersionClick()
{
    const int index = SelectedItemIndex();
    if (index < 0 || !m_block)
        return;
    const TMonItemRecord record = m_items->GetFile(index)->Data();
    const auto parsed = m_verList->SelectedVersion();
    if (!parsed)
        return;
    // Only a file inside this item's own backup folder is ever deleted here.
    const std::string itemFolder = ItemBackupFolder(m_block->Settings.BackupPath.Get(), record.FileID.Get());
    const bool inside = IsPlainFolderName(record.FileID.Get()) &&
                        parsed->Path.compare(0, itemFolder.size(), itemFolder) == 0 &&
                        parsed->Path.find("/../") == std::string::npos;
    if (inside && FileExists(parsed->Path)) {
        const QString path = QString::fromStdString(parsed->Path);
        // The desktop trash keeps a deleted version within reach; where there is none,
        // the version goes only when the user says so.
        bool gone = MoveToTrash(parsed->Path);
        if (!gone &&
            MessageBoxes::Show(BoxKind::Confirmation, Message(MonitorText::TrashFailed) + "\n" + parsed->Path,
                               BoxButtons::YesNo, BoxAnswer::No, this) == BoxAnswer::Yes)
            gone = QFile::remove(path);
        if (gone)
            QDir().rmdir(QString::fromStdString(parsed->Folder));
        else
            m_statusBar->showMessage(QString::fromStdString(Message(MonitorText::VersionNotDeleted)), 5000);
    }
    VersionsClick();
}

} // namespace morvane::monitor
