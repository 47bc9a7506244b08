#include "KitSysUtils.h"

#include "platform/Paths.h"

#include <QFile>
#include <QGuiApplication>
#include <QMetaObject>
#include <algorithm>
#include <mutex>

namespace morvane {

namespace {

// Blanks and control characters: a target of these alone is blank.
bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// Position of the extension's point within path, or npos.
std::size_t ExtensionPoint(const std::string& path)
{
    const std::size_t nameStart = ExtractFolderPart(path).size();
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        return std::string::npos;
    return dot;
}

std::string ExtractExtension(const std::string& path)
{
    const std::size_t dot = ExtensionPoint(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

bool HasWildcard(const std::string& s)
{
    return s.find_first_of("*?") != std::string::npos;
}

std::mutex g_classMutex;
QStringList g_classNames;

} // namespace

ShiftState GetShiftState()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
    ShiftState state = 0;
    if (mods & Qt::ShiftModifier)
        state |= ssShift;
    if (mods & Qt::ControlModifier)
        state |= ssCtrl;
    if (mods & Qt::AltModifier)
        state |= ssAlt;
    return state;
}

std::size_t PosFrom(const std::string& sub, const std::string& s, std::size_t start)
{
    if (sub.empty() || s.empty() || s.size() < sub.size())
        return 0;
    if (start < 1)
        start = 1;
    if (start > s.size())
        return 0;
    const std::size_t found = s.find(sub, start - 1);
    return found == std::string::npos ? 0 : found + 1;
}

std::size_t BackPosFrom(const std::string& sub, const std::string& s, std::size_t last)
{
    if (sub.empty() || s.empty() || s.size() < sub.size())
        return 0;
    const long long first =
        static_cast<long long>(std::min(last, s.size())) - static_cast<long long>(sub.size()) + 1;
    if (first < 1)
        return 0;
    const std::size_t found = s.rfind(sub, static_cast<std::size_t>(first - 1));
    return found == std::string::npos ? 0 : found + 1;
}

std::size_t BackPos(const std::string& sub, const std::string& s)
{
    return BackPosFrom(sub, s, s.size());
}

void ReplaceAt(std::string& s, std::size_t pos, const std::string& oldText, const std::string& newText)
{
    if (pos >= 1 && pos <= s.size())
        s.erase(pos - 1, oldText.size());
    const std::size_t at = pos < 1 ? 0 : std::min(pos - 1, s.size());
    s.insert(at, newText);
}

void ReplaceAll(std::string& s, const std::string& oldText, const std::string& newText)
{
    std::size_t pos = 1;
    for (;;) {
        pos = PosFrom(oldText, s, pos);
        if (pos == 0)
            return;
        ReplaceAt(s, pos, oldText, newText);
        pos += newText.size();
    }
}

void ReplaceChar(std::string& s, char oldChar, char newChar)
{
    for (char& c : s)
        if (c == oldChar)
            c = newChar;
}

void SplitToLines(const std::string& text, const std::string& separator, std::vector<std::string>& lines)
{
    std::string s = text;
    if (separator.size() == 1)
        ReplaceChar(s, separator[0], '\n');
    else
        ReplaceAll(s, separator, "\n");
    // CR, LF and CRLF each end a line; a break at the very end adds no empty line.
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t start = i;
        while (i < s.size() && s[i] != '\r' && s[i] != '\n')
            ++i;
        lines.push_back(s.substr(start, i - start));
        if (i < s.size() && s[i] == '\r')
            ++i;
        if (i < s.size() && s[i] == '\n')
            ++i;
    }
}

bool CanCreateFile(const std::string& fileName)
{
    if (fileName.empty())
        return false;
    QFile file(QString::fromStdString(fileName));
    if (file.exists())
        return true;
    // NewOnly: a file that appears meanwhile is never truncated or removed by this test.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.close();
    file.remove();
    return true;
}

std::string AddBackslash(const std::string& path)
{
    return WithTrailingSep(path);
}

std::string CollapseBackslashes(const std::string& path)
{
    std::string s = path;
    ReplaceAll(s, std::string(2, kPathSep), std::string(1, kPathSep));
    return s;
}

std::string ExtractNamePart(const std::string& path)
{
    return NamePart(path);
}

std::string ExtractFolderPart(const std::string& path)
{
    return FolderPart(path);
}

std::string ExtractNameNoExt(const std::string& path)
{
    const std::string name = ExtractNamePart(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ComposeDestName(const std::string& source, const std::string& target)
{
    if (std::all_of(target.begin(), target.end(), IsBlank))
        return source;
    std::string folder = ExtractFolderPart(target);
    if (folder.empty())
        folder = ExtractFolderPart(source);
    std::string name = ExtractNameNoExt(target);
    if (name.empty() || HasWildcard(name))
        name = ExtractNameNoExt(source);
    std::string ext = ExtractExtension(target);
    if (ext.empty() || HasWildcard(ext))
        ext = ExtractExtension(source);
    return folder + name + ext;
}

std::string MakeAbsolutePath(const std::string& base, const std::string& path)
{
    if (!path.empty() && path[0] == kPathSep)
        return path;
    return CollapseBackslashes(AddBackslash(base) + path);
}

void RegisterClassSafe(const QMetaObject* cls)
{
    if (!cls)
        return;
    try {
        const QString name = QString::fromLatin1(cls->className());
        std::lock_guard lock(g_classMutex);
        if (!g_classNames.contains(name))
            g_classNames.append(name);
    } catch (...) {
        // Registration is a convenience; a failure must never stop start-up.
    }
}

void RegisterClassesSafe(std::initializer_list<const QMetaObject*> classes)
{
    for (const QMetaObject* cls : classes)
        RegisterClassSafe(cls);
}

QStringList RegisteredClassNames()
{
    std::lock_guard lock(g_classMutex);
    return g_classNames;
}

} // namespace morvane
