#include "monitor/FileListView.h"

#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ShellIcons.h"
#include "platform/Paths.h"
#include "support/PellaryDefs.h"

#include <QAbstractButton>
#include <QApplication>

namespace morvane::monitor {

namespace {

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

} // namespace

const QColor FileListView::kBrokenColour(255, 0, 0);
const QColor FileListView::kStoppedFolderColour(128, 128, 128);

FileListView::FileListView(const TRKMonItems& items, SharedBlock* block, QWidget* parent)
    : ListView(parent), m_items(items), m_block(block)
{
    setObjectName("FileList");
    SetColumns({{"File", 150, false},
                {"Status", 70, false},
                {"File path", 0, false},
                {"Make", 80, false},
                {"Versions", 70, false}});
    SetCheckboxes(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

std::string FileListView::Text(TextSlot slot) const
{
    // A slot the agent has not filled yet shows the built-in English text.
    const std::string text = m_block ? m_block->Text(slot) : std::string();
    if (text.empty() && kTextSlots[slot].Default)
        return kTextSlots[slot].Default;
    return text;
}

int FileListView::ItemIndexOfRow(int row) const
{
    if (row < 0 || row >= RowCount())
        return -1;
    return m_items.FindByPath((SubItem(row, 1) + Caption(row)).toStdString());
}

int FileListView::RowOfPath(const std::string& path) const
{
    const QString wanted = QString::fromStdString(path);
    for (int row = RowCount() - 1; row >= 0; --row)
        if (SubItem(row, 1) + Caption(row) == wanted)
            return row;
    return -1;
}

int FileListView::SelectedItemIndex() const
{
    return ItemIndexOfRow(Selected());
}

void FileListView::ShowFolder(const std::shared_ptr<TRKMonFolder>& folder)
{
    m_tag = 1;
    Clear();
    if (folder) {
        for (const auto& item : folder->Files())
            ShowRow(item, AddRow());
    }
    m_tag = 0;
    Repaint();
}

void FileListView::ShowRow(const std::shared_ptr<TRKMonItem>& item, int row)
{
    const std::string path = item->Path();
    SetCaption(row, QString::fromStdString(NamePart(path)));
    SetSubItem(row, 1, QString::fromStdString(FolderPart(path)));
    SetChecked(row, item->Monitored());
    SetIcon(row, ShellFileIcon(path));
    InitRow(item, row);
}

std::string FileListView::FlagLetters(const TMonItemRecord& record)
{
    QString letters;
    if (record.MonModeConfirmation)
        letters += FlagLetter(CheckCaption("MakeAskCheck", "Ask confirmation (A)"));
    if (record.MonModeCompare)
        letters += FlagLetter(CheckCaption("MakeCompareCheck", "Compare byte by byte (C)"));
    if (record.MonModeSize)
        letters += FlagLetter(CheckCaption("MakeSizeCheck", "Compare file sizes (S)"));
    return letters.toStdString();
}

std::optional<QColor> FileListView::RowColour(int row, bool folderStopped) const
{
    const int index = ItemIndexOfRow(row);
    if (index < 0)
        return std::nullopt;
    std::optional<QColor> colour;
    if (m_items.GetFile(index)->MonStatus() == msBroken)
        colour = kBrokenColour;
    if (m_loaded && folderStopped)
        colour = kStoppedFolderColour;
    return colour;
}

void FileListView::InitRows()
{
    for (int row = 0; row < RowCount(); ++row)
        if (const int index = ItemIndexOfRow(row); index >= 0)
            InitRow(m_items.GetFile(index), row);
}

void FileListView::InitRow(const std::shared_ptr<TRKMonItem>& item, int row)
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
    SetCaption(row, QString::fromStdString(NamePart(path)));

    switch (record.MonStatus) {
    case msDisabled:
        SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusDisabled)));
        break;
    case msActive:
        SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusActive)));
        break;
    case msBroken:
        SetSubItem(row, 0, QString::fromStdString(Text(TxtItemStatusBroken)));
        break;
    }
    SetSubItem(row, 1, QString::fromStdString(FolderPart(path)));

    // The mode's word is kept apart from the letters that follow it: a mode this program
    // has no word for keeps the last word shown, never the letters added to it before.
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
        mode = SubItemData(row, 2).toString().toStdString();
    }
    SetSubItemData(row, 2, QString::fromStdString(mode));
    const std::string letters = FlagLetters(record);
    if (!letters.empty())
        mode += (mode.empty() ? "" : ", ") + letters;
    SetSubItem(row, 2, QString::fromStdString(mode));

    std::vector<std::string> lines;
    if (m_block)
        ListItemVersions(m_block->Settings, record, lines);
    std::string versions = std::to_string(lines.size());
    if (record.DelMode == dmNumber)
        versions += "/" + std::to_string(record.DelModeNumber);
    else if (record.DelMode == dmInterval)
        versions += "/Period";
    SetSubItem(row, 3, QString::fromStdString(versions));
}

} // namespace morvane::monitor
