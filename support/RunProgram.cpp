#include "support/RunProgram.h"

#include "platform/Log.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <iostream>

namespace morvane {

namespace {

// Blanks around the text and one pair of surrounding double quotes go, as a shell
// would take them off one argument.
std::string Unquote(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    std::string s = text.substr(first, last - first + 1);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return s;
}

// An executable file is started only when it really is a program: a binary or a
// script with "#!". A document that merely carries the execute bit (common on files
// copied from other systems) is opened, not run.
bool IsProgramFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable())
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(4);
    return head.startsWith("\x7f"
                           "ELF") ||
           head.startsWith("#!");
}

// "https://x", "mailto:a@b": a scheme of two or more letters before ":".
bool LooksLikeAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme().size() > 1 && !text.startsWith('/');
}

bool Fail(const std::string& what, const std::string& name)
{
    Log("RunProgram: " + what + ": " + name);
    return false;
}

} // namespace

bool RunProgram(const std::string& fileName, const std::vector<std::string>& parameters,
                const std::string& directory)
{
    const std::string name = Unquote(fileName);
    if (name.empty())
        return Fail("nothing to start", fileName);
    const QString file = QString::fromStdString(name);

    QString program;
    if (file.contains('/')) {
        if (IsProgramFile(file))
            program = file;
    } else if (!QFileInfo::exists(file)) {
        program = QStandardPaths::findExecutable(file);
    } else if (IsProgramFile(file)) {
        program = QFileInfo(file).absoluteFilePath();
    }

    if (!program.isEmpty()) {
        QStringList args;
        for (const std::string& p : parameters)
            args << QString::fromStdString(Unquote(p));
        const QString dir = QString::fromStdString(Unquote(directory));
        if (!QProcess::startDetached(program, args, dir))
            return Fail("cannot start", name);
        return true;
    }

    QUrl url;
    if (LooksLikeAddress(file)) {
        url = QUrl(file);
    } else {
        const QFileInfo info(file);
        if (!info.exists())
            return Fail("no such file or folder", name);
        url = QUrl::fromLocalFile(QDir::cleanPath(info.absoluteFilePath()));
    }
    if (!QDesktopServices::openUrl(url))
        return Fail("no program opens", name);
    return true;
}

} // namespace morvane
