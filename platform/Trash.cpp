#include "platform/Trash.h"

#include "platform/XdgDirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace morvane {

bool MoveToTrash(const std::string& path)
{
    const QString source = QString::fromStdString(path);
    // A fresh account has no trash folder yet; the toolkit trashes only into one that exists.
    QDir().mkpath(QString::fromStdString(DataHome()) + "Trash");
    QString inTrash;
    if (!QFile::moveToTrash(source, &inTrash))
        return false;
    if (QFileInfo(inTrash).isAbsolute())
        return true;
    // A move the toolkit could not place properly is taken back.
    QFile::rename(inTrash, source);
    return !QFileInfo::exists(source);
}

} // namespace morvane
