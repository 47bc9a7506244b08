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
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStatusBar>

namespace morvane::monitor {

namespace {

// The custom program that opens an item's versions, with its trailing blank, or "".
std::string ProgramPrefix(const TMonItemRecord& record)
{
    return record.ExecuterMode == emCustom ? record.Executer.Get() + " " : std::string();
}

// The versions list shows dates with "-" between the date parts, whatever the locale.
std::string VersionDateFormat(const std::string& format)
{
    std::string result;
    char quote = 0;
    for (char c : format) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '/') {
            c = '-';
        }
        result += c;
    }
    return result;
}

// Moves a file to the desktop trash; false when it is still where it was. A trash that
// cannot be set up must not leave the file somewhere else.
bool MoveToTrash(const QString& path)
{
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash");
    QString inTrash;
    if (!QFile::moveToTrash(path, &inTrash))
        return false;
    if (QFileInfo(inTrash).isAbsolute())
        return true;
    QFile::rename(inTrash, path);
    return !QFileInfo::exists(path);
}

} // namespace

void TForm1::VersionsClick()
{
    const int row = m_fileList->Selected();
    if (row < 0)
        return;
    m_versionLines.clear();
    const int index = ItemIndexOfRow(row);
    if (index < 0 || !m_block) {
        m_verList->Clear();
        UpdateActions();
        return;
    }
    const auto item = m_items->GetFile(index);
    const TMonItemRecord record = item->Data();
    ListItemVersions(m_block->Settings, record, m_versionLines);
    // The row's count follows what the list shows now.
    InitFileListItem(item, row);
    m_verList->Clear();
    const std::string prefix = ProgramPrefix(record);
    // Newest first: row r shows line count - 1 - r.
    for (auto line = m_versionLines.rbegin(); line != m_versionLines.rend(); ++line) {
        const auto parsed = ParseVersionLine(*line, prefix);
        const int added = m_verList->AddRow();
        if (!parsed)
            continue;
        m_verList->SetIcon(added, ShellFileIcon(parsed->Path));
        m_verList->SetCaption(added, QString::fromStdString(parsed->Label));
    }
    if (m_verList->ViewStyle() == ListView::vsReport)
        Report1Click();
    UpdateActions();
}

void TForm1::Report1Click()
{
    m_verList->SetViewStyle(ListView::vsReport);
    const std::string format =
        VersionDateFormat(m_block ? m_block->Settings.DateFormat.Get() : std::string());
    const std::string prefix = SelectedProgramPrefix();
    int row = 0;
    for (auto line = m_versionLines.rbegin(); line != m_versionLines.rend() && row < m_verList->RowCount();
         ++line, ++row) {
        const auto parsed = ParseVersionLine(*line, prefix);
        if (!parsed)
            continue;
        m_verList->SetCaption(row, QString::fromStdString(NamePart(parsed->Path)));
        // The version folder's name is the version number.
        std::string folder = parsed->Folder;
        folder.pop_back();
        m_verList->SetSubItem(row, 0, QString::fromStdString(NamePart(folder)));
        const auto date = FileDate(parsed->Path);
        m_verList->SetSubItem(row, 1,
                              date ? QString::fromStdString(FormatDateTime(format, *date)) : QString());
        m_verList->SetSubItem(row, 2, QString::fromStdString(parsed->Folder));
    }
}

std::string TForm1::SelectedProgramPrefix() const
{
    const int index = SelectedItemIndex();
    return index >= 0 ? ProgramPrefix(m_items->GetFile(index)->Data()) : std::string();
}

std::optional<VersionLine> TForm1::SelectedVersion() const
{
    const int row = m_verList->Selected();
    if (row < 0 || row >= int(m_versionLines.size()))
        return std::nullopt;
    return ParseVersionLine(m_versionLines[m_versionLines.size() - 1 - row], SelectedProgramPrefix());
}

void TForm1::VerListDblClick()
{
    if (const auto parsed = SelectedVersion())
        Open({parsed->Program, parsed->Path, parsed->Folder});
}

void TForm1::Openlocation1Click()
{
    if (const auto parsed = SelectedVersion())
        Open({{}, parsed->Folder, parsed->Folder});
}

void TForm1::DeleteVersionClick()
{
    const int row = m_verList->Selected();
    if (row < 0 || row >= int(m_versionLines.size()))
        return;
    const int index = SelectedItemIndex();
    if (index < 0 || !m_block)
        return;
    const TMonItemRecord record = m_items->GetFile(index)->Data();
    const auto parsed =
        ParseVersionLine(m_versionLines[m_versionLines.size() - 1 - row], ProgramPrefix(record));
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
        bool gone = MoveToTrash(path);
        if (!gone && MessageBoxes::Show(BoxKind::Confirmation,
                                        "The version cannot be moved to the trash. Delete it for good?\n" +
                                            parsed->Path,
                                        BoxButtons::YesNo, BoxAnswer::No, this) == BoxAnswer::Yes)
            gone = QFile::remove(path);
        if (gone)
            QDir().rmdir(QString::fromStdString(parsed->Folder));
        else
            m_statusBar->showMessage(tr("The version was not deleted."), 5000);
    }
    VersionsClick();
}

} // namespace morvane::monitor
