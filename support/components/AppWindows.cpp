#include "AppWindows.h"

#include <QApplication>
#include <QPointer>
#include <QVector>
#include <QWidget>
#include <utility>

namespace morvane {

namespace {

QPointer<QWidget> g_mainForm;
bool g_showMainForm = true;
QVector<QPointer<QWidget>> g_hidden;

void ShowNormal(QWidget* w)
{
    if (w->windowState() & Qt::WindowMinimized)
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
}

// Windows that stand for the application; popups and tips come and go by themselves.
// A window the window manager never handles is not one of ours to hide: the toolkit's
// notification-area icon is such a window, embedded in the panel, and hiding it takes
// the icon out of the tray for good (or leaves it blank when it is hidden at start).
bool IsApplicationWindow(const QWidget* w)
{
    const Qt::WindowType type = w->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
        return false;
    return !w->windowFlags().testFlag(Qt::BypassWindowManagerHint);
}

} // namespace

void SetApplicationMainForm(QWidget* form)
{
    g_mainForm = form;
}

QWidget* ApplicationMainForm()
{
    return g_mainForm;
}

void SetApplicationShowMainForm(bool show)
{
    g_showMainForm = show;
}

bool ApplicationShowMainForm()
{
    return g_showMainForm;
}

void ShowMainFormAtStart()
{
    if (!g_mainForm)
        return;
    if (g_showMainForm)
        g_mainForm->show();
    else
        g_mainForm->hide();
}

void HideApplicationWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == g_mainForm || !w->isVisible() || !IsApplicationWindow(w))
            continue;
        g_hidden.append(w);
        w->hide();
    }
}

void ShowApplicationWindow()
{
    const QVector<QPointer<QWidget>> hidden = std::exchange(g_hidden, {});
    for (const QPointer<QWidget>& w : hidden)
        if (w)
            ShowNormal(w);
}

void ShowApplication()
{
    ShowApplicationWindow();
    if (QWidget* form = g_mainForm) {
        ShowNormal(form);
        form->raise();
        form->activateWindow();
    }
}

void HideApplication()
{
    HideApplicationWindow();
    if (QWidget* form = g_mainForm)
        form->hide();
}

} // namespace morvane
