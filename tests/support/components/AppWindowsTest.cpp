#include "support/components/AppWindows.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace morvane;

namespace {

class AppWindowsTest : public ::testing::Test
{
protected:
    QWidget other;
    QWidget dialog;
    void SetUp() override
    {
        other.show();
        dialog.show();
    }
    void TearDown() override
    {
        SetApplicationMainForm(nullptr);
        SetApplicationShowMainForm(true);
    }
};

TEST_F(AppWindowsTest, WithoutMainFormOnlyTheOtherWindowsHideAndComeBack)
{
    QWidget neverShown;
    HideApplication();
    EXPECT_FALSE(other.isVisible());
    EXPECT_FALSE(dialog.isVisible());
    ShowApplication();
    EXPECT_TRUE(other.isVisible());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(neverShown.isVisible()); // only what was hidden comes back
}

TEST_F(AppWindowsTest, MainFormIsHiddenAndShownNormal)
{
    QWidget form;
    SetApplicationMainForm(&form);
    EXPECT_EQ(ApplicationMainForm(), &form);
    form.show();
    form.setWindowState(Qt::WindowMinimized);
    HideApplication();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(other.isVisible());
    ShowApplication();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(other.isVisible());
}

TEST_F(AppWindowsTest, HiddenMainFormIsShownEvenIfNeverVisible)
{
    QWidget form;
    SetApplicationMainForm(&form);
    ShowApplication();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(AppWindowsTest, WindowsDestroyedWhileHiddenAreSkipped)
{
    auto temporary = std::make_unique<QWidget>();
    temporary->show();
    HideApplication();
    temporary.reset();
    ShowApplication();
    EXPECT_TRUE(other.isVisible());
}

TEST_F(AppWindowsTest, DestroyedMainFormIsForgotten)
{
    auto form = std::make_unique<QWidget>();
    SetApplicationMainForm(form.get());
    form.reset();
    EXPECT_EQ(ApplicationMainForm(), nullptr);
    HideApplication();
    ShowApplication();
}

TEST_F(AppWindowsTest, ShowMainFormSwitchIsKept)
{
    EXPECT_TRUE(ApplicationShowMainForm());
    SetApplicationShowMainForm(false);
    EXPECT_FALSE(ApplicationShowMainForm());
}

} // namespace
