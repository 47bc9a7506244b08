#include "monitor/ShellIcons.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace morvane::monitor {

namespace {

// Each icon is made once per kind and shared by every row that shows it: a style's
// standard icon loads all its sizes, tens of kilobytes for every call. Emptied when the
// application ends, while its pixmaps can still be freed. GUI thread only.
struct IconCache
{
    QHash<QString, QIcon> Files; // by MIME type name
    QIcon Folder;
};

IconCache& Icons()
{
    static IconCache* cache = nullptr;
    if (!cache) {
        cache = new IconCache;
        qAddPostRoutine([] {
            delete cache;
            cache = nullptr;
        });
    }
    return *cache;
}

} // namespace

QIcon ShellFileIcon(const std::string& path, QString* typeName)
{
    static QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(QString::fromStdString(path), QMimeDatabase::MatchExtension);
    if (typeName)
        *typeName = type.comment();
    QHash<QString, QIcon>& files = Icons().Files;
    auto it = files.find(type.name());
    if (it == files.end()) {
        const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
        it = files.insert(type.name(), QIcon::fromTheme(type.iconName(),
                                                        QIcon::fromTheme(type.genericIconName(), fallback)));
    }
    return *it;
}

QIcon ShellFolderIcon()
{
    QIcon& folder = Icons().Folder;
    if (folder.isNull())
        folder = QIcon::fromTheme("folder", QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    return folder;
}

} // namespace morvane::monitor
