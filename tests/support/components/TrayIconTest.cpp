#include "FakeTrayShell.h"
#include "common/TestSupport.h"
#include "support/TkitTrayIcon.h"
#include "support/components/QtTrayShell.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>
#include <gtest/gtest.h>

using namespace morvane;
using morvane::test::FakeTrayShell;
using morvane::test::FakeTrayState;

namespace {

QIcon ColourIcon(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

class TrayIconTest : public ::testing::Test
{
protected:
    FakeTrayState state;
    QObject owner; // the form the icon sits on
    TkitTrayIcon* tray = nullptr;
    QStringList events;

    void SetUp() override
    {
        tray = new TkitTrayIcon(&owner, std::make_unique<FakeTrayShell>(&state));
        tray->setObjectName("kitTrayIcon1");
        Record();
        state.calls.clear();
        state.icons.clear();
    }

    void Record()
    {
        auto note = [this](const char* name) {
            return [this, name](QObject*) {
                events << name;
            };
        };
        QObject::connect(tray, &TkitTrayIcon::OnShow, &owner, note("Show"));
        QObject::connect(tray, &TkitTrayIcon::OnHide, &owner, note("Hide"));
        QObject::connect(tray, &TkitTrayIcon::OnClick, &owner, note("Click"));
        QObject::connect(tray, &TkitTrayIcon::OnDblClick, &owner, note("DblClick"));
        QObject::connect(tray, &TkitTrayIcon::OnPopupMenu, &owner, note("PopupMenu"));
        QObject::connect(tray, &TkitTrayIcon::OnMinimize, &owner, note("Minimize"));
        QObject::connect(tray, &TkitTrayIcon::OnBalloonShow, &owner, note("BalloonShow"));
        QObject::connect(tray, &TkitTrayIcon::OnBalloonTimeout, &owner, note("BalloonTimeout"));
        QObject::connect(tray, &TkitTrayIcon::OnBalloonClick, &owner, note("BalloonClick"));
        QObject::connect(tray, &TkitTrayIcon::OnMouseMove, &owner,
                         [this](QObject*, ShiftState s, int x, int y) {
                             events << QString("Move %1 %2,%3").arg(s).arg(x).arg(y);
                         });
        auto button = [this](const char* name) {
            return [this, name](QObject*, MouseButton b, ShiftState s, int x, int y) {
                events << QString("%1 %2 %3 %4,%5").arg(name).arg(int(b)).arg(s).arg(x).arg(y);
            };
        };
        QObject::connect(tray, &TkitTrayIcon::OnMouseDown, &owner, button("Down"));
        QObject::connect(tray, &TkitTrayIcon::OnMouseUp, &owner, button("Up"));
    }

    const TrayIconData& LastIcon() const { return state.icons.back(); }
};

TEST_F(TrayIconTest, StartsHiddenWithDefaultsAndHooksTheApplication)
{
    FakeTrayState fresh;
    QObject form;
    auto* t = new TkitTrayIcon(&form, std::make_unique<FakeTrayShell>(&fresh));
    EXPECT_TRUE(fresh.calls.contains("Hook"));
    EXPECT_FALSE(fresh.calls.contains("Add"));
    EXPECT_FALSE(t->Visible());
    EXPECT_TRUE(t->Enabled());
    EXPECT_TRUE(t->ShowHint());
    EXPECT_FALSE(t->CycleIcons());
    EXPECT_EQ(t->CycleInterval(), 200u);
    EXPECT_EQ(t->InfoTimeout(), 10000);
    EXPECT_EQ(t->InfoType(), tiiNone);
    EXPECT_EQ(t->IconFlags(), kNifMessage | kNifTip);
}

TEST_F(TrayIconTest, HintIsCutToLimitAndTipFollowsShowHint)
{
    tray->SetHint(QString(70, 'x'));
    EXPECT_EQ(tray->Hint(), QString(63, 'x'));
    ASSERT_EQ(state.calls.last(), "Modify");
    EXPECT_EQ(LastIcon().tip, QString(63, 'x'));

    tray->SetShowHint(false);
    EXPECT_EQ(LastIcon().tip, QString());
    const int modifies = state.Count("Modify");
    tray->SetShowHint(false);
    EXPECT_EQ(state.Count("Modify"), modifies);
}

TEST_F(TrayIconTest, HintCutNeverSplitsACharacter)
{
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    tray->SetHint(QString(62, 'a') + face + "tail");
    EXPECT_EQ(tray->Hint(), QString(62, 'a'));
    tray->SetHint(QString(61, 'a') + face + "tail");
    EXPECT_EQ(tray->Hint(), QString(61, 'a') + face);
}

TEST_F(TrayIconTest, VisibleAddsAndRemovesTheIcon)
{
    tray->SetVisible(true);
    ASSERT_EQ(state.calls, QStringList{"Add"});
    EXPECT_EQ(LastIcon().flags, kNifMessage | kNifTip | kNifIcon);
    EXPECT_EQ(events, QStringList{"Show"});

    state.ownerVisible = true;
    tray->SetVisible(true); // unchanged: nothing
    tray->SetVisible(false);
    EXPECT_EQ(state.calls, (QStringList{"Add", "Delete"}));
    EXPECT_EQ(LastIcon().flags, kNifMessage | kNifTip);
    EXPECT_EQ(events, (QStringList{"Show", "Hide"}));
}

TEST_F(TrayIconTest, HidingRestoresApplicationAndShowsHiddenOwner)
{
    tray->SetMinimizeToTray(true);
    tray->SetVisible(true);
    state.calls.clear();
    tray->SetVisible(false);
    EXPECT_EQ(state.calls, (QStringList{"Delete", "ShowApplication", "MakeVisible"}));

    state.ownerIsWindow = false;
    state.ownerVisible = false;
    tray->SetMinimizeToTray(false);
    tray->SetVisible(true);
    state.calls.clear();
    tray->SetVisible(false);
    EXPECT_EQ(state.calls, QStringList{"Delete"});
}

TEST_F(TrayIconTest, ShellFailureWhileAddingOrRemovingIsNamed)
{
    state.failIconCalls = true;
    try {
        tray->SetVisible(true);
        FAIL() << "no error";
    } catch (const EkitTrayIcon& e) {
        EXPECT_STREQ(e.what(), "kitTrayIcon1.InsertToTray failed");
    }
    state.failIconCalls = false;
    tray->SetVisible(true);
    state.failIconCalls = true;
    EXPECT_THROW(tray->HideIcon(), EkitTrayIcon);
    state.failIconCalls = false;
}

TEST_F(TrayIconTest, IconIdChangeMovesAShownIcon)
{
    tray->SetVisible(true);
    state.icons.clear();
    state.calls.clear();
    tray->SetIconID(7);
    ASSERT_EQ(state.calls, (QStringList{"Delete", "Add"}));
    EXPECT_EQ(state.icons[0].id, 0u);
    EXPECT_EQ(state.icons[1].id, 7u);
    EXPECT_TRUE(events.filter("Hide").isEmpty());
}

class TrayImageTest : public TrayIconTest
{
protected:
    IconList list;
    QIcon icons[3] = {ColourIcon(Qt::red), ColourIcon(Qt::green), ColourIcon(Qt::blue)};

    void SetUp() override
    {
        TrayIconTest::SetUp();
        for (const QIcon& icon : icons)
            list.Add(icon);
    }
    int ShownImage() const
    {
        for (int i = 0; i < 3; ++i)
            if (LastIcon().icon.cacheKey() == icons[i].cacheKey())
                return i;
        return -1;
    }
};

TEST_F(TrayImageTest, ImageIndexReloadsIconEvenWhenUnchanged)
{
    tray->SetImageList(&list);
    EXPECT_EQ(ShownImage(), 0);
    tray->SetImageIndex(2);
    EXPECT_EQ(ShownImage(), 2);
    const int modifies = state.Count("Modify");
    tray->SetImageIndex(2);
    EXPECT_EQ(state.Count("Modify"), modifies + 1);
    EXPECT_EQ(ShownImage(), 2);

    // A change of the list reloads the shown image.
    list.Clear();
    EXPECT_EQ(state.Count("Modify"), modifies + 2);
    EXPECT_TRUE(LastIcon().icon.isNull());
}

TEST_F(TrayImageTest, CyclingStepsThroughImagesAndWraps)
{
    tray->SetImageList(&list);
    tray->SetVisible(true);
    std::vector<int> shown;
    QObject::connect(tray, &TkitTrayIcon::OnCycleIcons, &owner,
                     [&](QObject*) { shown.push_back(ShownImage()); });
    tray->SetCycleInterval(1);
    tray->SetCycleIcons(true);
    ASSERT_TRUE(test::WaitUntil([&] { return shown.size() >= 5; }));
    tray->SetCycleIcons(false);
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 5), (std::vector<int>{1, 2, 0, 1, 2}));
}

TEST_F(TrayImageTest, CyclingWithEmptyListStaysOnFirstImage)
{
    IconList empty;
    tray->SetImageList(&empty);
    tray->SetImageIndex(5);
    int ticks = 0;
    QObject::connect(tray, &TkitTrayIcon::OnCycleIcons, &owner, [&](QObject*) {
        ++ticks;
        EXPECT_EQ(tray->ImageIndex(), 0);
    });
    tray->SetCycleInterval(1);
    tray->SetCycleIcons(true);
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 3; }));
    tray->SetCycleIcons(false);
}

TEST_F(TrayImageTest, DestroyedImageListOrMenuIsForgotten)
{
    auto* doomed = new IconList;
    doomed->Add(icons[0]);
    tray->SetImageList(doomed);
    auto* menu = new QObject;
    tray->SetPopupMenu(menu);
    delete doomed;
    delete menu;
    EXPECT_EQ(tray->ImageList(), nullptr);
    EXPECT_EQ(tray->PopupMenu(), nullptr);
    state.Send(TrayNotification::RightButtonUp);
    tray->SetImageIndex(1);
    EXPECT_FALSE(state.calls.filter("Popup").size());
}

class TrayMouseTest : public TrayIconTest
{
protected:
    QObject menu;
    void SetUp() override
    {
        TrayIconTest::SetUp();
        tray->SetPopupMenu(&menu);
    }
};

TEST_F(TrayMouseTest, LeftPressAndReleaseMakeAClick)
{
    state.Send(TrayNotification::LeftButtonDown);
    EXPECT_TRUE(tray->ClickPending());
    state.Send(TrayNotification::LeftButtonUp);
    EXPECT_FALSE(tray->ClickPending());
    const QString left = QString::number(int(MouseButton::mbLeft));
    const QString shift = QString::number(ssLeft);
    EXPECT_EQ(events, (QStringList{"Down " + left + " " + shift + " 10,20",
                                   "Up " + left + " " + shift + " 10,20", "Click"}));
    // The owner comes forward before the release is reported; no menu on the left button.
    EXPECT_EQ(state.calls, QStringList{"BringToFront"});
}

TEST_F(TrayMouseTest, ReleaseWithoutPressIsNoClick)
{
    state.Send(TrayNotification::LeftButtonUp);
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events[0].startsWith("Up"));
}

TEST_F(TrayMouseTest, RightReleasePopsMenuUpAtCursor)
{
    state.cursor = {300, 400};
    state.Send(TrayNotification::RightButtonDown);
    state.Send(TrayNotification::RightButtonUp);
    EXPECT_EQ(state.calls, (QStringList{"BringToFront", "ProcessEvents", "BringToFront", "Popup 300,400"}));
    EXPECT_EQ(events.last(), "PopupMenu");
    EXPECT_TRUE(events.filter("Click").isEmpty());
}

TEST_F(TrayMouseTest, LeftReleasePopsMenuUpOnlyWithPopupByLeft)
{
    state.Send(TrayNotification::LeftButtonUp);
    EXPECT_TRUE(state.calls.filter("Popup").isEmpty());
    tray->SetPopupByLeft(true);
    state.Send(TrayNotification::LeftButtonDown);
    state.Send(TrayNotification::LeftButtonUp);
    EXPECT_EQ(state.calls.filter("Popup").size(), 1);
    EXPECT_EQ(events.mid(events.size() - 2), (QStringList{"Click", "PopupMenu"}));
}

TEST_F(TrayMouseTest, NoPopupWithoutAutoPopup)
{
    state.autoPopup = false;
    state.Send(TrayNotification::RightButtonUp);
    EXPECT_TRUE(state.calls.filter("Popup").isEmpty());
    EXPECT_TRUE(events.filter("PopupMenu").isEmpty());
}

TEST_F(TrayMouseTest, DoubleClickClicksDefaultItemWithoutMinimizingOrRestoring)
{
    state.hasDefaultItem = true;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_EQ(state.calls, (QStringList{"ClickDefault", "BringToFront"}));
    EXPECT_EQ(events, QStringList{"DblClick"});
}

TEST_F(TrayMouseTest, DoubleClickIgnoresDefaultItemWithPopupByLeft)
{
    state.hasDefaultItem = true;
    tray->SetPopupByLeft(true);
    tray->SetMinimizeToTray(true);
    state.ownerVisible = true;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_EQ(state.calls, QStringList{"HideApplication"});
    EXPECT_EQ(events, QStringList{"DblClick"});
}

TEST_F(TrayMouseTest, DoubleClickWithoutDefaultItemRestoresHiddenApplication)
{
    tray->SetMinimizeToTray(true);
    state.ownerVisible = false;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_EQ(state.calls, QStringList{"ShowApplication"});
    state.calls.clear();
    state.ownerIsWindow = false;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_TRUE(state.calls.isEmpty());
    EXPECT_EQ(events, (QStringList{"DblClick", "DblClick"}));
}

TEST_F(TrayMouseTest, MiddleButtonAndMoveCarryShiftAndPosition)
{
    state.Send(TrayNotification::MouseMove);
    state.Send(TrayNotification::MiddleButtonDown);
    state.Send(TrayNotification::MiddleButtonDoubleClick);
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0], "Move 0 10,20");
    EXPECT_EQ(events[1], QString("Down %1 %2 10,20").arg(int(MouseButton::mbMiddle)).arg(ssMiddle));
}

TEST_F(TrayMouseTest, DisabledIconReportsNothingButStillShowsAndBalloons)
{
    tray->SetEnabled(false);
    for (TrayNotification n : {TrayNotification::LeftButtonDown, TrayNotification::LeftButtonUp,
                               TrayNotification::LeftButtonDoubleClick, TrayNotification::RightButtonUp,
                               TrayNotification::BalloonShow, TrayNotification::BalloonUserClick})
        state.Send(n);
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(state.calls.isEmpty());
    tray->SetVisible(true);
    tray->ShowBalloon();
    EXPECT_EQ(state.calls, (QStringList{"Add", "Balloon"}));
}

TEST_F(TrayMouseTest, ComponentDeletedByItsMenuIsNotTouchedAfterwards)
{
    state.duringPopup = [this] {
        delete tray;
        tray = nullptr;
    };
    state.Send(TrayNotification::RightButtonUp);
    EXPECT_EQ(tray, nullptr);
    EXPECT_TRUE(events.filter("PopupMenu").isEmpty());
    EXPECT_FALSE(state.sink); // the shell no longer reports to it
}

TEST_F(TrayMouseTest, ComponentDeletedByDefaultItemIsNotTouchedAfterwards)
{
    state.hasDefaultItem = true;
    state.onDefaultClick = [this] {
        delete tray;
        tray = nullptr;
    };
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(TrayIconTest, BalloonCarriesCutTextsTimeoutAndType)
{
    tray->SetVisible(true);
    tray->SetInfoTitle(QString(70, 't'));
    tray->SetInfoText(QString(300, 'x'));
    tray->SetInfoTimeout(1000);
    tray->SetInfoType(tiiWarning);
    EXPECT_TRUE(state.balloons.empty()); // settings alone show nothing
    tray->ShowInfoBalloon();
    ASSERT_EQ(state.balloons.size(), 1u);
    const TrayBalloon& b = state.balloons[0];
    EXPECT_EQ(b.title, QString(63, 't'));
    EXPECT_EQ(b.text, QString(255, 'x'));
    EXPECT_EQ(b.timeoutMs, 1000);
    EXPECT_EQ(b.type, tiiWarning);
    EXPECT_EQ(LastIcon().flags, kNifInfo);
    // The icon's own flags are untouched by a balloon.
    EXPECT_EQ(tray->IconFlags(), kNifMessage | kNifTip | kNifIcon);
}

TEST_F(TrayIconTest, BalloonNotificationsBecomeEvents)
{
    state.Send(TrayNotification::BalloonShow);
    state.Send(TrayNotification::BalloonHide);
    state.Send(TrayNotification::BalloonTimeout);
    state.Send(TrayNotification::BalloonUserClick);
    EXPECT_EQ(events, (QStringList{"BalloonShow", "BalloonTimeout", "BalloonClick"}));
}

TEST_F(TrayIconTest, MinimizeOnStartHidesApplicationAndShowsIcon)
{
    tray->SetMinimizeOnStart(true);
    tray->Loaded();
    EXPECT_FALSE(state.showMainForm);
    EXPECT_TRUE(tray->Visible());
    EXPECT_EQ(state.calls.first(), "HideApplication");
    EXPECT_TRUE(state.calls.contains("Add"));
    EXPECT_TRUE(events.contains("Minimize"));
}

TEST_F(TrayIconTest, LoadedWithoutVisibleOrMinimizeShowsNothing)
{
    tray->Loaded();
    EXPECT_TRUE(state.calls.isEmpty());
    EXPECT_TRUE(state.showMainForm);
}

TEST_F(TrayIconTest, TaskbarRecreatedPutsVisibleIconBack)
{
    tray->TaskbarCreated();
    EXPECT_TRUE(state.calls.isEmpty());

    tray->SetMinimizeToTray(true);
    tray->SetVisible(true);
    state.calls.clear();
    events.clear();
    tray->TaskbarCreated();
    EXPECT_EQ(events, (QStringList{"Hide", "Show"}));
    EXPECT_EQ(state.calls, (QStringList{"Delete", "ShowApplication", "MakeVisible", "Add"}));
    EXPECT_TRUE(tray->Visible());
}

TEST_F(TrayIconTest, MinimizedApplicationGoesToTrayOnlyWithMinimizeToTray)
{
    ASSERT_TRUE(state.onMinimized);
    state.onMinimized();
    EXPECT_TRUE(state.calls.isEmpty());
    tray->SetMinimizeToTray(true);
    state.onMinimized();
    EXPECT_EQ(state.calls, (QStringList{"HideApplication", "Add"}));
    EXPECT_EQ(events, (QStringList{"Show", "Minimize"}));
}

TEST_F(TrayIconTest, DestructionRemovesShownIconQuietly)
{
    tray->SetMinimizeToTray(true);
    tray->SetVisible(true);
    state.calls.clear();
    events.clear();
    delete tray;
    tray = nullptr;
    EXPECT_EQ(state.calls, (QStringList{"Delete", "Unhook"}));
    EXPECT_TRUE(events.isEmpty());
}

TEST(QtTrayShellTest, ComponentStaysInertWithoutNotificationArea)
{
    auto shell = std::make_unique<QtTrayShell>();
    const bool available = shell->TrayAvailable();
    EXPECT_EQ(available, QSystemTrayIcon::isSystemTrayAvailable());
    QWidget form;
    auto* tray = new TkitTrayIcon(&form, std::move(shell));
    tray->SetIcon(ColourIcon(Qt::red));
    tray->SetHint("Morvane Agent");
    tray->SetVisible(true);
    tray->SetInfoText("text");
    tray->ShowBalloon();
    tray->SetVisible(false);
    EXPECT_FALSE(tray->Visible());
}

TEST(QtTrayShellTest, MenuDefaultItemIsClickedAndOwnersAreWidgets)
{
    QtTrayShell shell;
    QMenu menu;
    QAction* first = menu.addAction("First");
    QAction* show = menu.addAction("Show Monitor");
    int triggered = 0;
    QObject::connect(show, &QAction::triggered, &menu, [&] { ++triggered; });
    EXPECT_FALSE(shell.ClickDefaultItem(&menu));
    menu.setDefaultAction(show);
    EXPECT_TRUE(shell.ClickDefaultItem(&menu));
    EXPECT_EQ(triggered, 1);
    EXPECT_TRUE(shell.MenuAutoPopup(&menu));
    QObject notAMenu;
    EXPECT_FALSE(shell.MenuAutoPopup(&notAMenu));
    EXPECT_FALSE(shell.ClickDefaultItem(&notAMenu));
    (void)first;

    QWidget widget;
    EXPECT_TRUE(shell.IsWindowedControl(&widget));
    EXPECT_FALSE(shell.IsWindowedControl(&notAMenu));
    EXPECT_FALSE(shell.IsVisible(&widget));
    shell.MakeVisible(&widget);
    EXPECT_TRUE(shell.IsVisible(&widget));
}

TEST(QtTrayShellTest, MinimizingAWindowReachesTheHook)
{
    QtTrayShell shell;
    int minimized = 0;
    shell.HookApplication([&] { ++minimized; });
    QWidget window;
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(test::WaitUntil([&] { return minimized == 1; }));
    shell.UnhookApplication();
    window.setWindowState(Qt::WindowNoState);
    window.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(minimized, 1);
}

} // namespace
