#pragma once

#include "engine/SharedBlock.h"
#include "monitor/BackupMove.h"

#include <QDialog>
#include <QString>
#include <string>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QToolBar;

namespace morvane {
class TkitFileOperation;
class TRKMonItems;
} // namespace morvane

namespace morvane::monitor {

// "Move versions": the user picks a folder (browsing the file system, going up, making a
// new folder and renaming it in place, or typing its path) and presses Change; every
// stored version moves there, the agent's settings name it, and the agent is told to
// reload them. While the versions move the agent makes none (see BackupMove). A move left
// unfinished is said at the top, and the dialog opens at its folder, the only one it
// takes until then. Main thread only.
class TForm5 : public QDialog
{
    Q_OBJECT
public:
    // block may be nullptr (no agent: nothing is held or told). items is the monitor's
    // item list, whose file items' histories move.
    TForm5(SharedBlock* block, TRKMonItems& items, QWidget* parent = nullptr);
    ~TForm5() override;

    // The backup folder in use (ends with "/"): the block's until a move changes it.
    const std::string& BackupPath() const { return m_backupPath; }
    void SetBackupPath(const std::string& path);

    // The folder whose sub-folders the list shows, and the destination: the path field,
    // which follows the folder selected in the list ("" none).
    std::string CurrentFolder() const;
    void SetCurrentFolder(const std::string& folder);
    std::string SelectedFolder() const;
    void SelectFolder(const std::string& name);
    // Enter in the path field: the list shows the folder typed there, selected; a path
    // that is no folder is said.
    void PathEditReturn();
    // Enter or a double click on a row: that folder becomes current.
    void OpenFolder(const QModelIndex& index);

    // The settings file the move writes, and the folder of a move left unfinished ("").
    std::string SettingsFile() const;
    std::string UnfinishedMove() const;

    void FormShow();
    void FolderUpClick();
    void FolderNewClick();
    void ShellComboBox1Change();
    void ChangeButtonClick();

    // The move's plan for a destination, as ChangeButtonClick makes it.
    BackupMovePlan MakePlan(const std::string& destination) const;
    const BackupMoveResult& LastResult() const { return m_lastResult; }
    TkitFileOperation* FileOperation1() const { return m_fileOperation; }
    // The running move's cancel and hooks.
    BackupMoveControl& MoveControl() { return m_control; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillCombo();
    std::string Text(TextSlot slot) const;
    std::string LanguageFile() const;
    // Keeps the row under the pointer in its place while the folder's listing changes:
    // its place is noted as the pointer or the list moves, and given back after a change.
    void HoldRowUnderPointer();
    void RestoreRowUnderPointer();

    SharedBlock* m_block;
    TRKMonItems& m_items;
    std::string m_backupPath;
    BackupMoveResult m_lastResult;
    BackupMoveControl m_control;
    QFileSystemModel* m_model = nullptr;
    QComboBox* m_combo = nullptr;
    QListView* m_list = nullptr;
    QLabel* m_unfinished = nullptr;
    QLineEdit* m_pathEdit = nullptr;
    QString m_anchorPath; // the row under the pointer and where it is
    int m_anchorTop = 0;
    bool m_restoring = false;
    bool m_reveal = false; // the selected row is kept in view while the folder is read
    QToolBar* m_toolBar = nullptr;
    QCheckBox* m_compression = nullptr;
    QPushButton* m_change = nullptr;
    QPushButton* m_cancel = nullptr;
    TkitFileOperation* m_fileOperation = nullptr;
};

} // namespace morvane::monitor
