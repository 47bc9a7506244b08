#include "TkitFileAssociation.h"

#include "AppInstances.h"
#include "platform/Paths.h"
#include "platform/RegistryStore.h"
#include "platform/XdgDirs.h"
#include "support/KitSysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>

namespace morvane {

namespace {

constexpr RegistryRoot kRoot = RegistryRoot::ClassesRoot;

std::function<void()>& Notifier()
{
    static std::function<void()> notifier = [] {
        const std::string data = DataHome();
        const QString mime = QStandardPaths::findExecutable("update-mime-database");
        if (!mime.isEmpty())
            QProcess::startDetached(mime, {QString::fromStdString(data + "mime")});
        const QString apps = QStandardPaths::findExecutable("update-desktop-database");
        if (!apps.isEmpty())
            QProcess::startDetached(apps, {QString::fromStdString(data + "applications")});
    };
    return notifier;
}

std::optional<int> ParseIndex(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 9)
        return std::nullopt;
    int value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// A name the desktop's files may carry: lower case letters, digits, "-", "+" and ".".
std::string DesktopName(const std::string& typeKey)
{
    std::string out;
    for (char c : typeKey) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        const bool keep = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-' ||
                          lower == '+' || lower == '.';
        out += keep ? lower : '-';
    }
    return out;
}

QString XmlText(const std::string& text)
{
    return QString::fromStdString(text).toHtmlEscaped();
}

bool SaveText(const QString& path, const QString& text)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    return file.write(bytes) == bytes.size() && file.commit();
}

constexpr const char* kDefaultsSection = "[Default Applications]";
constexpr const char* kOwnTypePrefix = "application/x-morvane-";

// The type the desktop already gives files with this extension, other than one this
// component made; empty when there is none.
QString KnownMimeType(const std::string& extension)
{
    const QMimeDatabase db;
    for (const QMimeType& type : db.mimeTypesForFileName("file" + QString::fromStdString(extension)))
        if (!type.name().startsWith(kOwnTypePrefix))
            return type.name();
    return {};
}

// The types an entry written earlier opens, from its MimeType line.
QStringList EntryMimeTypes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
        if (line.startsWith("MimeType="))
            return line.mid(9).split(';', Qt::SkipEmptyParts);
    return {};
}

// The entries of a list value ("a.desktop;b.desktop;"), without empty ones.
QStringList ListEntries(const QString& value)
{
    QStringList entries;
    for (const QString& entry : value.split(';'))
        if (!entry.trimmed().isEmpty())
            entries << entry.trimmed();
    return entries;
}

// Makes entry the first default program for mime in the desktop's list of default
// programs (add), or takes it out of that list (!add), leaving every other line of the
// file as it is. A file that would not change is not written.
bool SetDefaultProgram(const QString& mime, const QString& entry, bool add)
{
    const QString path = QString::fromStdString(ConfigHome()) + "mimeapps.list";
    QStringList lines;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return false;
        lines = QString::fromUtf8(file.readAll()).split('\n');
        file.close();
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
    }
    int section = -1, sectionEnd = static_cast<int>(lines.size()), keyLine = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.startsWith('[')) {
            if (section >= 0 && sectionEnd == lines.size())
                sectionEnd = i;
            if (line == kDefaultsSection && section < 0)
                section = i;
            continue;
        }
        if (section >= 0 && sectionEnd == lines.size() && keyLine < 0 &&
            line.section('=', 0, 0).trimmed() == mime)
            keyLine = i;
    }
    QStringList entries = keyLine >= 0 ? ListEntries(lines[keyLine].section('=', 1)) : QStringList();
    const QStringList before = entries;
    entries.removeAll(entry);
    if (add)
        entries.prepend(entry);
    if (entries == before && (add ? keyLine >= 0 : true))
        return true;
    const QString value = mime + "=" + entries.join(';') + ";";
    if (keyLine >= 0 && entries.isEmpty()) {
        lines.removeAt(keyLine);
    } else if (keyLine >= 0) {
        lines[keyLine] = value;
    } else if (section >= 0) {
        // After the section's last line that holds something.
        int at = sectionEnd;
        while (at > section + 1 && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, value);
    } else {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty())
            lines << QString();
        lines << kDefaultsSection << value;
    }
    return SaveText(path, lines.join('\n') + "\n");
}

} // namespace

TkitFileAssociation::TkitFileAssociation(QObject* owner) : TkitComponent(owner) {}

const char* TkitFileAssociation::VerbName(Verb verb)
{
    static const char* const kNames[VerbCount] = {"open", "opennew", "edit", "print", "printto"};
    return kNames[verb];
}

void TkitFileAssociation::SetShellNotifier(std::function<void()> notifier)
{
    Notifier() = std::move(notifier);
}

void TkitFileAssociation::NotifyShell()
{
    if (Notifier())
        Notifier()();
}

void TkitFileAssociation::SetExtension(const std::string& value)
{
    if (value == m_extension)
        return;
    m_extension = value;
    if (!m_extension.empty() && m_extension.front() != '.')
        m_extension.insert(0, ".");
    ReadAssociation();
}

bool TkitFileAssociation::ExtensionUsable() const
{
    // "." alone or a path would name the whole classes root or another key.
    return m_extension.size() > 1 && m_extension.find(kPathSep) == std::string::npos;
}

bool TkitFileAssociation::TypeKeyUsable() const
{
    return !m_extDescription.empty() && m_extDescription.find(kPathSep) == std::string::npos &&
           m_extDescription != "." && m_extDescription != "..";
}

std::string TkitFileAssociation::MimeTypeName() const
{
    const QString known = KnownMimeType(m_extension);
    return known.isEmpty() ? kOwnTypePrefix + DesktopName(m_extDescription) : known.toStdString();
}

bool TkitFileAssociation::ReadAssociation()
{
    m_extDescription.clear();
    m_fileDescription.clear();
    m_iconFile.clear();
    m_iconIndex = 0;
    m_largeIcon = QIcon();
    m_smallIcon = QIcon();
    for (int v = 0; v < VerbCount; ++v) {
        m_commands[v].clear();
        m_descriptions[v].clear();
    }
    if (!ExtensionUsable())
        return false;
    bool found = false;
    const RegistryStore store;
    m_extDescription = store.ReadValue(kRoot, m_extension, "").value_or("");
    if (TypeKeyUsable() && store.KeyExists(kRoot, m_extDescription)) {
        found = true;
        const std::string type = m_extDescription;
        m_fileDescription = store.ReadValue(kRoot, type, "").value_or("");
        m_iconFile = store.ReadValue(kRoot, type + "/DefaultIcon", "").value_or("");
        if (!m_iconFile.empty()) {
            std::size_t separator = BackPos(",", m_iconFile);
            if (separator > 1) {
                const std::size_t earlier = BackPosFrom(",", m_iconFile, separator - 1);
                if (earlier > 0) {
                    m_iconFile.erase(separator - 1);
                    separator = earlier;
                }
            }
            if (separator > 0) {
                if (const auto index = ParseIndex(m_iconFile.substr(separator))) {
                    m_iconIndex = *index;
                    m_iconFile.erase(separator - 1);
                }
            }
        }
        for (int v = 0; v < VerbCount; ++v) {
            const std::string verbKey = type + "/shell/" + VerbName(Verb(v));
            m_descriptions[v] = store.ReadValue(kRoot, verbKey, "").value_or("");
            m_commands[v] = store.ReadValue(kRoot, verbKey + "/command", "").value_or("");
        }
    }
    LoadIcons();
    return found;
}

void TkitFileAssociation::LoadIcons()
{
    QIcon icon;
    if (!m_iconFile.empty()) {
        // An image file, or a name of the desktop's icon theme.
        if (QFileInfo(QString::fromStdString(m_iconFile)).isFile())
            icon = QIcon(QString::fromStdString(m_iconFile));
        else
            icon = QIcon::fromTheme(QString::fromStdString(m_iconFile));
    }
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        const bool program = QString::fromStdString(m_extension).compare(".exe", Qt::CaseInsensitive) == 0;
        ExtractShell32Icon(program ? 2 : 0, &m_largeIcon, &m_smallIcon);
        return;
    }
    m_largeIcon = icon;
    m_smallIcon = icon;
}

bool TkitFileAssociation::WriteAssociation()
{
    if (!ExtensionUsable())
        return false;
    if (m_extDescription.empty())
        m_extDescription = m_extension.substr(1) + "file";
    if (!TypeKeyUsable())
        return false;
    RegistryStore store;
    const std::string type = m_extDescription;
    if (!store.WriteValue(kRoot, m_extension, "", m_extDescription) ||
        !store.WriteValue(kRoot, type, "", m_fileDescription))
        return false;
    if (!m_iconFile.empty() &&
        !store.WriteValue(kRoot, type + "/DefaultIcon", "", m_iconFile + "," + std::to_string(m_iconIndex)))
        return false;
    for (int v = 0; v < VerbCount; ++v) {
        if (m_commands[v].empty())
            continue;
        const std::string verbKey = type + "/shell/" + VerbName(Verb(v));
        if (!store.WriteValue(kRoot, verbKey, "", m_descriptions[v]) ||
            !store.WriteValue(kRoot, verbKey + "/command", "", m_commands[v]))
            return false;
    }
    const bool desktop = WriteDesktopFiles();
    NotifyShell();
    return desktop;
}

bool TkitFileAssociation::WriteDesktopFiles()
{
    const QString data = QString::fromStdString(DataHome());
    const QString name = QString::fromStdString("morvane-" + DesktopName(m_extDescription));
    const QString mime = QString::fromStdString(MimeTypeName());
    const QString xmlPath = data + "mime/packages/" + name + ".xml";
    const QString entryPath = data + "applications/" + name + ".desktop";
    bool ok = true;
    if (mime.startsWith(kOwnTypePrefix)) {
        const QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                            "  <mime-type type=\"" +
                            mime + "\">\n    <comment>" + XmlText(m_fileDescription) + "</comment>\n" +
                            "    <glob pattern=\"*" + XmlText(m_extension) +
                            "\"/>\n  </mime-type>\n</mime-info>\n";
        ok = SaveText(xmlPath, xml);
    } else if (QFile::exists(xmlPath)) {
        // The desktop knows the extension by now: a glob of our own would only compete
        // with its type, and files would go on opening as that type.
        ok = QFile::remove(xmlPath);
    }
    // An entry written for another type gives up being that type's default.
    for (const QString& old : EntryMimeTypes(entryPath))
        if (old != mime)
            ok = SetDefaultProgram(old, name + ".desktop", false) && ok;
    QString exec = QString::fromStdString(m_commands[Open]);
    if (exec.isEmpty()) {
        QFile::remove(entryPath);
        return SetDefaultProgram(mime, name + ".desktop", false) && ok;
    }
    // The command's file argument becomes the desktop's own field code for one file.
    exec.replace("\"%1\"", "%f").replace("%1", "%f");
    if (!exec.contains("%f") && !exec.contains("%F") && !exec.contains("%u") && !exec.contains("%U"))
        exec += " %f";
    const QString title = QString::fromStdString(
        m_descriptions[Open].empty() ? (m_fileDescription.empty() ? m_extDescription : m_fileDescription)
                                     : m_descriptions[Open]);
    QString entry = "[Desktop Entry]\nType=Application\nName=" + title + "\nExec=" + exec +
                    "\nMimeType=" + mime + ";\nNoDisplay=true\n";
    if (!m_iconFile.empty())
        entry += "Icon=" + QString::fromStdString(m_iconFile) + "\n";
    ok = SaveText(entryPath, entry) && ok;
    // The desktop opens files of the type with it from now on; the program that did
    // before stays listed after it, and is the default again once the entry goes.
    return SetDefaultProgram(mime, name + ".desktop", true) && ok;
}

void TkitFileAssociation::RemoveDesktopFiles()
{
    const QString data = QString::fromStdString(DataHome());
    const QString name = QString::fromStdString("morvane-" + DesktopName(m_extDescription));
    const QString entryPath = data + "applications/" + name + ".desktop";
    QStringList types = EntryMimeTypes(entryPath);
    types << QString::fromStdString(MimeTypeName());
    QFile::remove(data + "mime/packages/" + name + ".xml");
    QFile::remove(entryPath);
    types.removeDuplicates();
    for (const QString& type : types)
        SetDefaultProgram(type, name + ".desktop", false);
}

bool TkitFileAssociation::DeleteAssociation()
{
    if (!ExtensionUsable())
        return false;
    RegistryStore store;
    if (!store.KeyExists(kRoot, m_extension))
        return true;
    const std::string type = store.ReadValue(kRoot, m_extension, "").value_or("");
    const bool deleted = store.DeleteKey(kRoot, m_extension);
    if (deleted && !type.empty()) {
        m_extDescription = type;
        RemoveDesktopFiles();
    }
    NotifyShell();
    ReadAssociation();
    return deleted;
}

void TkitFileAssociation::UpdateAssociation()
{
    try {
        WriteAssociation();
    } catch (...) {
        // Errors of an update are ignored by design; WriteAssociation reports them.
    }
}

} // namespace morvane
