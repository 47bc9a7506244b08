#include "support/components/AppWindows.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace morvane;

namespace {

TEST(AppWindowsTest, WithoutMainFormOnlyTheOtherWindowsHideAndComeBack)
{
    QWidget other;
    other.show();
    QWidget neverShown;
    auto temporary = std::make_unique<QWidget>();
    temporary->show();
    HideApplication();
    EXPECT_FALSE(other.isVisible());
    temporary.reset(); // gone while hidden: skipped when showing
    ShowApplication();
    EXPECT_TRUE(other.isVisible());
    EXPECT_FALSE(neverShown.isVisible()); // only what was hidden comes back
}

TEST(AppWindowsTest, MinimizedMainFormComesBackNormal)
{
    QWidget other;
    other.show();
    auto form = std::make_unique<QWidget>();
    SetApplicationMainForm(form.get());
    form->show();
    form->setWindowState(Qt::WindowMinimized);
    HideApplication();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(other.isVisible());
    ShowApplication();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(other.isVisible());
    form.reset();
    EXPECT_EQ(ApplicationMainForm(), nullptr);
}

// Windows the window manager never sees (the toolkit's tray icon is one) are not ours to
// hide: hiding one takes the icon out of the panel.
TEST(AppWindowsTest, WindowsOutsideTheWindowManagerStayAsTheyAre)
{
    QWidget own;
    own.show();
    QWidget trayIcon(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    trayIcon.show();
    HideApplication();
    EXPECT_FALSE(own.isVisible());
    EXPECT_TRUE(trayIcon.isVisible());
    ShowApplication();
    EXPECT_TRUE(own.isVisible());
    EXPECT_TRUE(trayIcon.isVisible());
}

} // namespace

namespace {

// The start shows the main form only when nothing (a tray icon minimizing on start) said no.
TEST(AppWindowsTest, StartShowsTheMainFormAsShowMainFormSays)
{
    struct Row
    {
        bool ShowMainForm;
        bool ShownBefore;
        bool Visible;
    };
    for (const Row& row : {Row{true, false, true}, Row{false, false, false}, Row{false, true, false}}) {
        QWidget form;
        if (row.ShownBefore)
            form.show();
        SetApplicationMainForm(&form);
        SetApplicationShowMainForm(row.ShowMainForm);
        ShowMainFormAtStart();
        EXPECT_EQ(form.isVisible(), row.Visible) << row.ShowMainForm << row.ShownBefore;
        SetApplicationShowMainForm(true);
        SetApplicationMainForm(nullptr);
    }
    ShowMainFormAtStart(); // no main form: nothing to do
}

} // namespace
