#include "agent/AutoStart.h"

#include "platform/Paths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QString>

namespace morvane {

namespace {

constexpr const char* kGroup = "[Desktop Entry]";

std::string ConfigHome()
{
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    // Relative values of the XDG variables are to be ignored.
    if (!xdg.isEmpty() && xdg.startsWith('/'))
        return WithTrailingSep(xdg.toStdString());
    return WithTrailingSep(QDir::homePath().toStdString()) + ".config/";
}

} // namespace

AutoStart::AutoStart(std::string valueName) : m_name(std::move(valueName)) {}

std::string AutoStart::EntryPath() const
{
    return ConfigHome() + "autostart/" + m_name + ".desktop";
}

std::optional<std::string> AutoStart::ReadValue() const
{
    QFile file(QString::fromStdString(EntryPath()));
    if (!file.exists())
        return std::string();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inGroup = line == kGroup;
            continue;
        }
        if (inGroup && line.startsWith("Exec")) {
            const qsizetype eq = line.indexOf('=');
            if (eq >= 0 && line.left(eq).trimmed() == "Exec")
                return line.mid(eq + 1).trimmed().toStdString();
        }
    }
    return std::string();
}

bool AutoStart::WriteValue(const std::string& value) const
{
    // A line break would end the Exec= line and let the rest pose as further keys.
    if (value.find_first_of("\r\n") != std::string::npos)
        return false;
    const std::string path = EntryPath();
    if (!QDir().mkpath(QString::fromStdString(FolderPart(path))))
        return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string text = std::string(kGroup) + "\nType=Application\nName=Morvane Agent\nExec=" + value +
                             "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
        return false;
    return file.commit();
}

std::string AutoStart::QuotedProgram(const std::string& programPath)
{
    return "\"" + programPath + "\"";
}

bool AutoStart::Matches(const std::string& value, const std::string& programPath)
{
    return QString::fromStdString(value).toUpper() ==
           QString::fromStdString(QuotedProgram(programPath)).toUpper();
}

} // namespace morvane
