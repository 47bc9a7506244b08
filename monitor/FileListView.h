#pragma once

#include "engine/SharedBlock.h"
#include "monitor/ListView.h"

#include <memory>
#include <optional>
#include <string>

namespace morvane {
class TRKMonFolder;
class TRKMonItem;
class TRKMonItems;
} // namespace morvane

namespace morvane::monitor {

// The file list of the main window: one row per file item of the folder on show, found
// by its whole path (folder column followed by caption, as names differ by case here).
// Columns: name, status, folder, make mode with its flag letters, and versions on disk
// against the limit. Main thread only.
class FileListView : public ListView
{
    Q_OBJECT
public:
    // block may be nullptr: texts are the built-in ones and no version is counted then.
    FileListView(const TRKMonItems& items, SharedBlock* block, QWidget* parent = nullptr);

    // The file item a row shows, or -1.
    int ItemIndexOfRow(int row) const;
    // The row that shows the item with path (the last such row), or -1.
    int RowOfPath(const std::string& path) const;
    // The selected row's item index, or -1.
    int SelectedItemIndex() const;

    // Rows for every file of folder (none for nullptr), in place of the ones shown.
    void ShowFolder(const std::shared_ptr<TRKMonFolder>& folder);
    // Fills a row from its item: name, folder, check, icon and the other columns.
    void ShowRow(const std::shared_ptr<TRKMonItem>& item, int row);
    // The columns that follow the item's record; row -1: the row that shows it.
    void InitRow(const std::shared_ptr<TRKMonItem>& item, int row = -1);
    // InitRow for every row (after the texts changed language).
    void InitRows();
    // The text colour of a row: red for a broken file, grey in a stopped folder.
    std::optional<QColor> RowColour(int row, bool folderStopped) const;

    // 1 while rows are filled by the program: selection and check changes are not the
    // user's then and are not followed.
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }
    // False until the item list has loaded once.
    bool Loaded() const { return m_loaded; }
    void SetLoaded(bool loaded) { m_loaded = loaded; }

    // The text of a slot as the agent gave it, or the built-in English one.
    std::string Text(TextSlot slot) const;
    // The letters of the make flags (ask, compare, size), from the properties dialog's
    // check box captions so a translation changes them.
    static std::string FlagLetters(const TMonItemRecord& record);

    static const QColor kBrokenColour;
    static const QColor kStoppedFolderColour;

private:
    const TRKMonItems& m_items;
    SharedBlock* m_block;
    int m_tag = 0;
    bool m_loaded = false;
};

} // namespace morvane::monitor
