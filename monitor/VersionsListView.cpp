#include "monitor/VersionsListView.h"

#include "engine/ItemRecordIO.h"
#include "monitor/ShellIcons.h"
#include "platform/DirListing.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "support/PellaryDefs.h"

namespace morvane::monitor {

namespace {

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

} // namespace

VersionsListView::VersionsListView(SharedBlock* block, QWidget* parent) : ListView(parent), m_block(block)
{
    setObjectName("VerList");
    SetColumns(
        {{"File", 150, false}, {"Version", 60, true}, {"Time stamp", 70, false}, {"Location", 200, false}});
    setContextMenuPolicy(Qt::CustomContextMenu);
}

std::string VersionsListView::ProgramPrefix(const TMonItemRecord& record)
{
    return record.ExecuterMode == emCustom ? record.Executer.Get() + " " : std::string();
}

void VersionsListView::ClearVersions()
{
    m_lines.clear();
    m_prefix.clear();
    Clear();
}

void VersionsListView::ShowVersions(const TMonItemRecord* record)
{
    ClearVersions();
    if (!record || !m_block)
        return;
    ListItemVersions(m_block->Settings, *record, m_lines);
    m_prefix = ProgramPrefix(*record);
    // Newest first: row r shows line count - 1 - r.
    for (auto line = m_lines.rbegin(); line != m_lines.rend(); ++line) {
        const auto parsed = ParseVersionLine(*line, m_prefix);
        const int added = AddRow();
        if (!parsed)
            continue;
        SetIcon(added, ShellFileIcon(parsed->Path));
        SetCaption(added, QString::fromStdString(parsed->Label));
    }
    if (ViewStyle() == vsReport)
        ShowReport();
}

void VersionsListView::ShowReport()
{
    SetViewStyle(vsReport);
    const std::string format =
        VersionDateFormat(m_block ? m_block->Settings.DateFormat.Get() : std::string());
    int row = 0;
    for (auto line = m_lines.rbegin(); line != m_lines.rend() && row < RowCount(); ++line, ++row) {
        const auto parsed = ParseVersionLine(*line, m_prefix);
        if (!parsed)
            continue;
        SetCaption(row, QString::fromStdString(NamePart(parsed->Path)));
        // The version folder's name is the version number.
        std::string folder = parsed->Folder;
        folder.pop_back();
        SetSubItem(row, 0, QString::fromStdString(NamePart(folder)));
        const auto date = FileDate(parsed->Path);
        SetSubItem(row, 1, date ? QString::fromStdString(FormatDateTime(format, *date)) : QString());
        SetSubItem(row, 2, QString::fromStdString(parsed->Folder));
    }
}

std::optional<VersionLine> VersionsListView::VersionOfRow(int row) const
{
    if (row < 0 || row >= int(m_lines.size()))
        return std::nullopt;
    return ParseVersionLine(m_lines[m_lines.size() - 1 - row], m_prefix);
}

} // namespace morvane::monitor
