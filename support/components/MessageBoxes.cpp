#include "support/components/MessageBoxes.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>
#include <deque>

namespace morvane {

namespace {

std::deque<BoxAnswer>& QueuedAnswers()
{
    static std::deque<BoxAnswer> answers;
    return answers;
}

std::vector<std::string>& ShownTexts()
{
    static std::vector<std::string> texts;
    return texts;
}

bool NoVisibleScreen()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

const char* AnswerName(BoxAnswer answer)
{
    switch (answer) {
    case BoxAnswer::Yes:
        return "yes";
    case BoxAnswer::No:
        return "no";
    case BoxAnswer::Ok:
        break;
    }
    return "ok";
}

// An answer that the box's buttons can give.
BoxAnswer Fit(BoxAnswer answer, BoxButtons buttons)
{
    if (buttons == BoxButtons::Ok)
        return BoxAnswer::Ok;
    return answer == BoxAnswer::No ? BoxAnswer::No : BoxAnswer::Yes;
}

BoxAnswer Unattended(BoxKind kind, const std::string& text, BoxAnswer answer, const char* why)
{
    std::fprintf(stderr, "BOX %s: %s\n", MessageBoxes::KindName(kind), text.c_str());
    std::fprintf(stderr, "  (answered \"%s\": %s)\n", AnswerName(answer), why);
    std::fflush(stderr);
    return answer;
}

} // namespace

const char* MessageBoxes::KindName(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Information:
        return "information";
    case BoxKind::Confirmation:
        return "confirmation";
    case BoxKind::Warning:
        return "warning";
    case BoxKind::Error:
        break;
    }
    return "error";
}

std::optional<BoxAnswer> MessageBoxes::AutoAnswer()
{
    const QByteArray value = qgetenv("MORVANE_AUTO_ANSWER").trimmed().toLower();
    if (value == "yes")
        return BoxAnswer::Yes;
    if (value == "no")
        return BoxAnswer::No;
    if (value == "ok")
        return BoxAnswer::Ok;
    return std::nullopt;
}

BoxAnswer MessageBoxes::Show(BoxKind kind, const std::string& text, BoxButtons buttons,
                             BoxAnswer defaultAnswer, QWidget* parent)
{
    // Kept for tests; bounded, since an agent runs for months.
    if (ShownTexts().size() >= 100)
        ShownTexts().erase(ShownTexts().begin());
    ShownTexts().push_back(text);
    if (!QueuedAnswers().empty()) {
        const BoxAnswer answer = Fit(QueuedAnswers().front(), buttons);
        QueuedAnswers().pop_front();
        return Unattended(kind, text, answer, "answer queued by a test");
    }
    if (const auto automatic = AutoAnswer())
        return Unattended(kind, text, Fit(*automatic, buttons), "MORVANE_AUTO_ANSWER");
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || NoVisibleScreen())
        return Unattended(kind, text, Fit(defaultAnswer, buttons), "no screen to show it on");

    QMessageBox box(parent);
    switch (kind) {
    case BoxKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case BoxKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    case BoxKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case BoxKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    box.setText(QString::fromStdString(text));
    if (buttons == BoxButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return BoxAnswer::Ok;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(Fit(defaultAnswer, buttons) == BoxAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
}

void MessageBoxes::PushAnswer(BoxAnswer answer)
{
    QueuedAnswers().push_back(answer);
}

std::vector<std::string> MessageBoxes::TakeShownTexts()
{
    std::vector<std::string> texts;
    texts.swap(ShownTexts());
    return texts;
}

void MessageBoxes::Reset()
{
    QueuedAnswers().clear();
    ShownTexts().clear();
}

} // namespace morvane
