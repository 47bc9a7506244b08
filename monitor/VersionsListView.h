#pragma once

#include "engine/SharedBlock.h"
#include "monitor/ListView.h"
#include "monitor/VersionLine.h"

#include <optional>
#include <string>
#include <vector>

namespace morvane::monitor {

// The versions list of the main window: the stored versions of one file item, newest
// first, from the listing of its backup folder. In report style each row also shows the
// version number, the file's time stamp and the version's folder. Main thread only.
class VersionsListView : public ListView
{
    Q_OBJECT
public:
    // block may be nullptr: nothing is listed then.
    explicit VersionsListView(SharedBlock* block, QWidget* parent = nullptr);

    // Lists the versions of an item; nothing for nullptr.
    void ShowVersions(const TMonItemRecord* record);
    // Fills the report columns of the rows listed.
    void ShowReport();
    // No rows, no lines.
    void ClearVersions();
    // The listing's lines, oldest first (row r shows line count - 1 - r).
    const std::vector<std::string>& Lines() const { return m_lines; }
    // The version a row shows, nothing for a row without one.
    std::optional<VersionLine> VersionOfRow(int row) const;
    std::optional<VersionLine> SelectedVersion() const { return VersionOfRow(Selected()); }

    // The custom program that opens an item's versions, with its trailing blank, or "".
    static std::string ProgramPrefix(const TMonItemRecord& record);

private:
    SharedBlock* m_block;
    std::vector<std::string> m_lines;
    // The program prefix of the item listed.
    std::string m_prefix;
};

} // namespace morvane::monitor
