#pragma once

#include <QIcon>
#include <QString>
#include <string>

namespace morvane::monitor {

// The desktop's icon for a file, from its name alone (the file need not exist), and the
// type name that goes with it.
QIcon ShellFileIcon(const std::string& path, QString* typeName = nullptr);
// The desktop's folder icon.
QIcon ShellFolderIcon();

} // namespace morvane::monitor
