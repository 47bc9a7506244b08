#include "monitor/FoldersTreeView.h"

#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItems.h"
#include "monitor/ShellIcons.h"
#include "platform/Paths.h"

#include <QDir>
#include <QTreeWidgetItemIterator>

namespace morvane::monitor {

namespace {

// Node data: the folder the node stands for, the index of its folder item when the node
// was made (-1: none; only its sign is used), and for a top node the root it stands for.
constexpr int kPathRole = Qt::UserRole;
constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kRootRole = Qt::UserRole + 2;

std::string HomeRoot()
{
    const std::string home = WithTrailingSep(QDir::homePath().toStdString());
    return home == kPathSepText ? std::string() : home;
}

std::string RootOf(const std::string& folder)
{
    const std::string home = HomeRoot();
    if (!home.empty() && folder.compare(0, home.size(), home) == 0)
        return home;
    return std::string(kPathSepText);
}

QString RootText(const std::string& root)
{
    return root == kPathSepText ? QStringLiteral("/") : QStringLiteral("~");
}

// The folder below its root without the trailing "/": "Docs/Work" for ~/Docs/Work/.
std::string RestOf(const std::string& folder, const std::string& root)
{
    std::string rest = folder.substr(std::min(root.size(), folder.size()));
    while (!rest.empty() && rest.back() == kPathSep)
        rest.pop_back();
    return rest;
}

} // namespace

const QColor FoldersTreeView::kStoppedFolderColour(128, 128, 128);

FoldersTreeView::FoldersTreeView(const TRKMonItems& items, QWidget* parent)
    : QTreeWidget(parent), m_items(items)
{
    setObjectName("FoldersTree");
    setHeaderHidden(true);
    setColumnCount(1);
    setSortingEnabled(true);
    sortByColumn(0, Qt::AscendingOrder);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

std::string FoldersTreeView::NodePath(QTreeWidgetItem* node) const
{
    if (!node)
        return {};
    if (!node->parent())
        return node->data(0, kRootRole).toString().toStdString();
    return node->parent()->data(0, kRootRole).toString().toStdString() + node->text(0).toStdString() +
           std::string(kPathSepText);
}

int FoldersTreeView::FolderIndexOfNode(QTreeWidgetItem* node) const
{
    if (!node)
        return -1;
    return m_items.FindFolder(NodePath(node));
}

QTreeWidgetItem* FoldersTreeView::FindNode(const std::string& folder) const
{
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        if (NodePath(top) == folder)
            found = top;
        for (int j = 0; j < top->childCount(); ++j)
            if (NodePath(top->child(j)) == folder)
                found = top->child(j);
    }
    return found;
}

QTreeWidgetItem* FoldersTreeView::FirstNodeWithFiles() const
{
    for (QTreeWidgetItemIterator it(const_cast<FoldersTreeView*>(this)); *it; ++it) {
        const int index = FolderIndexOfNode(*it);
        if (index >= 0 && !m_items.GetFolder(index)->Files().empty())
            return *it;
    }
    return nullptr;
}

QTreeWidgetItem* FoldersTreeView::ShowFolder(const std::string& folder)
{
    const std::string root = RootOf(folder);
    const std::string rest = RestOf(folder, root);

    QTreeWidgetItem* rootNode = nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->data(0, kRootRole).toString().toStdString() == root)
            rootNode = topLevelItem(i);
    if (!rootNode) {
        rootNode = new QTreeWidgetItem(this, {RootText(root)});
        rootNode->setIcon(0, ShellFolderIcon());
        rootNode->setToolTip(0, QString::fromStdString(root));
        rootNode->setData(0, kRootRole, QString::fromStdString(root));
        rootNode->setData(0, kPathRole, QString::fromStdString(root));
        rootNode->setData(0, kIndexRole, m_items.FindFolder(root));
    }
    QTreeWidgetItem* node = rootNode;
    if (!rest.empty()) {
        node = nullptr;
        const QString text = QString::fromStdString(rest);
        for (int i = 0; i < rootNode->childCount(); ++i)
            if (rootNode->child(i)->text(0) == text)
                node = rootNode->child(i);
        if (!node) {
            node = new QTreeWidgetItem(rootNode, {text});
            node->setIcon(0, ShellFolderIcon());
            node->setToolTip(0, QString::fromStdString(folder));
        }
    }
    node->setData(0, kPathRole, QString::fromStdString(folder));
    node->setData(0, kIndexRole, m_items.FindFolder(folder));
    rootNode->setExpanded(true);
    sortItems(0, Qt::AscendingOrder);
    setCurrentItem(node);
    return node;
}

void FoldersTreeView::RemoveFolderNode(QTreeWidgetItem* node)
{
    if (!node->parent()) {
        node->setData(0, kIndexRole, -1);
        return;
    }
    QTreeWidgetItem* rootNode = node->parent();
    if (rootNode->childCount() == 1 && FolderIndexOfNode(rootNode) < 0)
        delete rootNode;
    else
        delete node;
}

void FoldersTreeView::RefreshColours(bool coloured)
{
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        const auto folder = coloured ? m_items.FolderByPath(NodePath(*it)) : nullptr;
        if (folder && !folder->Monitored())
            (*it)->setForeground(0, kStoppedFolderColour);
        else
            (*it)->setData(0, Qt::ForegroundRole, QVariant());
    }
}

bool FoldersTreeView::StoppedFolderSelected() const
{
    if (!currentItem())
        return false;
    const auto folder = m_items.FolderByPath(NodePath(currentItem()));
    return folder && !folder->Monitored();
}

} // namespace morvane::monitor
