#pragma once

#include <QColor>
#include <QTreeWidget>
#include <string>

namespace morvane {
class TRKMonItems;
}

namespace morvane::monitor {

// The folders tree of the main window. Top nodes stand for the roots a folder can lie
// under: the user's home folder ("~") and the file system's root ("/"); below them one
// node per folder, sorted by text. A node is found by the folder path it stands for and
// shows its folder item grey while that folder is stopped. Main thread only.
class FoldersTreeView : public QTreeWidget
{
    Q_OBJECT
public:
    FoldersTreeView(const TRKMonItems& items, QWidget* parent = nullptr);

    // The folder path a node stands for (ends with "/"); "" for none.
    std::string NodePath(QTreeWidgetItem* node) const;
    // The index of the folder item a node stands for, or -1.
    int FolderIndexOfNode(QTreeWidgetItem* node) const;
    // The node of a folder path, nullptr when there is none.
    QTreeWidgetItem* FindNode(const std::string& folder) const;
    // The first node, in the tree's order, whose folder holds files; nullptr when none does.
    QTreeWidgetItem* FirstNodeWithFiles() const;
    // The node of a folder, made under its root when there is none yet, and selected.
    QTreeWidgetItem* ShowFolder(const std::string& folder);
    // Takes a node out as a deleted folder's node goes: a top node stays (its root still
    // holds it) and only forgets its folder; a root left with nothing goes with its last
    // node.
    void RemoveFolderNode(QTreeWidgetItem* node);
    // Nodes of stopped folders grey, the others in the normal colour. Before the list has
    // loaded (coloured false) every node is normal.
    void RefreshColours(bool coloured);
    // True when the selected node stands for a stopped folder.
    bool StoppedFolderSelected() const;

    // False while the list loads: a change of the selected node is not followed then.
    bool Loaded() const { return m_loaded; }
    void SetLoaded(bool loaded) { m_loaded = loaded; }

    static const QColor kStoppedFolderColour;

private:
    const TRKMonItems& m_items;
    bool m_loaded = true;
};

} // namespace morvane::monitor
