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

} // namespace
