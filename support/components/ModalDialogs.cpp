#include "support/components/ModalDialogs.h"

#include <QDialog>
#include <QGuiApplication>
#include <cstdio>
#include <deque>

namespace morvane {

namespace {

std::deque<ModalDialogs::Handler>& Handlers()
{
    static std::deque<ModalDialogs::Handler> handlers;
    return handlers;
}

int g_depth = 0;

// Counts one running Exec for as long as it lives.
struct DepthGuard
{
    DepthGuard() { ++g_depth; }
    ~DepthGuard() { --g_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

bool Unattended()
{
    if (!qEnvironmentVariableIsEmpty("MORVANE_AUTO_ANSWER"))
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace

int ModalDialogs::Exec(QDialog& dialog)
{
    const DepthGuard running;
    if (!Handlers().empty()) {
        Handler handler = std::move(Handlers().front());
        Handlers().pop_front();
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        handler(dialog);
        if (dialog.isVisible())
            dialog.reject();
        return dialog.result();
    }
    if (Unattended()) {
        std::fprintf(stderr, "DIALOG %s: cancelled\n", qPrintable(dialog.objectName()));
        std::fflush(stderr);
        dialog.setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }
    return dialog.exec();
}

void ModalDialogs::PushHandler(Handler handler)
{
    Handlers().push_back(std::move(handler));
}

int ModalDialogs::Depth()
{
    return g_depth;
}

bool ModalDialogs::HasHandler()
{
    return !Handlers().empty();
}

void ModalDialogs::Reset()
{
    Handlers().clear();
}

} // namespace morvane
