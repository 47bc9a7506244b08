#include "monitor/ShellIcons.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QStyle>

namespace morvane::monitor {

QIcon ShellFileIcon(const std::string& path, QString* typeName)
{
    static QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(QString::fromStdString(path), QMimeDatabase::MatchExtension);
    if (typeName)
        *typeName = type.comment();
    const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
}

QIcon ShellFolderIcon()
{
    return QIcon::fromTheme("folder", QApplication::style()->standardIcon(QStyle::SP_DirIcon));
}

} // namespace morvane::monitor
