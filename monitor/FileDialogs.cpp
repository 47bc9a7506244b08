#include "monitor/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>
#include <deque>

namespace morvane::monitor {

namespace {

std::deque<std::optional<std::string>>& Answers()
{
    static std::deque<std::optional<std::string>> answers;
    return answers;
}

bool Unattended()
{
    if (!qEnvironmentVariableIsEmpty("MORVANE_AUTO_ANSWER"))
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == "offscreen" || platform == "minimal";
}

} // namespace

std::optional<std::string> FileDialogs::OpenFile(QWidget* parent, const QString& title)
{
    if (!Answers().empty()) {
        auto answer = Answers().front();
        Answers().pop_front();
        return answer;
    }
    if (Unattended()) {
        std::fprintf(stderr, "DIALOG open: cancelled\n");
        return std::nullopt;
    }
    // The user's home folder first (the program's own folder is one the agent refuses),
    // then the folder last used.
    static QString lastFolder;
    const QString file =
        QFileDialog::getOpenFileName(parent, title, lastFolder.isEmpty() ? QDir::homePath() : lastFolder);
    if (file.isEmpty())
        return std::nullopt;
    lastFolder = QFileInfo(file).absolutePath();
    return file.toStdString();
}

void FileDialogs::PushAnswer(std::optional<std::string> answer)
{
    Answers().push_back(std::move(answer));
}

void FileDialogs::Reset()
{
    Answers().clear();
}

} // namespace morvane::monitor
