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
        using T = TkitTrayIcon;
        for (auto [signal, name] : {std::pair{&T::OnShow, "Show"},
                                    {&T::OnHide, "Hide"},
                                    {&T::OnClick, "Click"},
                                    {&T::OnDblClick, "DblClick"},
                                    {&T::OnPopupMenu, "PopupMenu"},
                                    {&T::OnMinimize, "Minimize"}})
            QObject::connect(tray, signal, &owner, [this, name](QObject*) { events << name; });
        auto button = [this](const char* name) {
            return [this, name](QObject*, MouseButton b, ShiftState s, int x, int y) {
                events << QString("%1 %2 %3 %4,%5").arg(name).arg(int(b)).arg(s).arg(x).arg(y);
            };
        };
        QObject::connect(tray, &T::OnMouseDown, &owner, button("Down"));
        QObject::connect(tray, &T::OnMouseUp, &owner, button("Up"));
    }

    const TrayIconData& LastIcon() const { return state.icons.back(); }
};

TEST_F(TrayIconTest, HintIsCutToLimitAndTipFollowsShowHint)
{
    tray->SetHint(QString(70, 'x'));
    EXPECT_EQ(tray->Hint(), QString(63, 'x'));
    ASSERT_EQ(state.calls.last(), "Modify");
    EXPECT_EQ(LastIcon().tip, QString(63, 'x'));

    // A cut never ends inside a character made of two UTF-16 units.
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
    tray->SetHint(QString(62, 'a') + face + "tail");
    EXPECT_EQ(tray->Hint(), QString(62, 'a'));

    tray->SetShowHint(false);
    EXPECT_EQ(LastIcon().tip, QString());
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

    // Hiding gives back the application and a hidden owner, which could not be reached otherwise.
    tray->SetMinimizeToTray(true);
    state.ownerVisible = false;
    tray->SetVisible(true);
    state.calls.clear();
    tray->SetVisible(false);
    EXPECT_EQ(state.calls, (QStringList{"Delete", "ShowApplication", "MakeVisible"}));
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

    // An empty list keeps the index on the first image.
    IconList empty;
    tray->SetImageList(&empty);
    tray->SetImageIndex(5);
    shown.clear();
    QObject::connect(tray, &TkitTrayIcon::OnCycleIcons, &owner,
                     [&](QObject*) { shown.push_back(tray->ImageIndex()); });
    tray->SetCycleIcons(true);
    ASSERT_TRUE(test::WaitUntil([&] { return shown.size() >= 4; }));
    tray->SetCycleIcons(false);
    EXPECT_EQ(shown[3], 0);
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

    events.clear();
    state.Send(TrayNotification::LeftButtonUp); // no press first: no click
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

TEST_F(TrayMouseTest, DoubleClickUsesDefaultItemElseMinimizesOrRestores)
{
    state.hasDefaultItem = true;
    tray->SetMinimizeToTray(true);
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_EQ(state.calls, (QStringList{"ClickDefault", "BringToFront"}));

    // With the menu on the left button the default item is not used.
    tray->SetPopupByLeft(true);
    state.calls.clear();
    state.ownerVisible = true;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    state.ownerVisible = false;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    state.ownerIsWindow = false;
    state.Send(TrayNotification::LeftButtonDoubleClick);
    EXPECT_EQ(state.calls, (QStringList{"HideApplication", "ShowApplication"}));
    EXPECT_EQ(events, QStringList(4, "DblClick"));
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
    events.clear();
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

TEST(QtTrayShellTest, MenuDefaultItemIsClicked)
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
    QObject notAMenu;
    EXPECT_FALSE(shell.MenuAutoPopup(&notAMenu));
    EXPECT_FALSE(shell.ClickDefaultItem(&notAMenu));
    EXPECT_FALSE(shell.IsWindowedControl(&notAMenu));
    (void)first;
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

namespace {

// The desktop's tray came back: what the component does, by its state.
struct TrayBackRow
{
    bool visible;
    bool enabled;
    bool minimizeToTray;
    bool ownerVisible;
    QStringList calls;
    QStringList events;
};

class TrayBackTest : public TrayIconTest, public ::testing::WithParamInterface<TrayBackRow>
{
};

TEST_P(TrayBackTest, TheIconIsAddedAgainWithItsHideAndShowEvents)
{
    const TrayBackRow& row = GetParam();
    tray->SetMinimizeToTray(row.minimizeToTray);
    tray->SetVisible(row.visible);
    tray->SetEnabled(row.enabled);
    state.ownerVisible = row.ownerVisible;
    state.calls.clear();
    state.icons.clear();
    events.clear();
    state.Send(TrayNotification::TaskbarCreated);
    EXPECT_EQ(state.calls, row.calls);
    EXPECT_EQ(events, row.events);
    EXPECT_EQ(tray->Visible(), row.visible);
    if (row.visible) {
        // The icon goes back whole, under its id and with its image flag.
        EXPECT_TRUE(state.icons.back().flags & kNifIcon);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrayBackTest,
    ::testing::Values(
        TrayBackRow{false, true, true, false, {}, {}},
        TrayBackRow{true, true, false, true, {"Delete", "Add"}, {"Hide", "Show"}},
        TrayBackRow{true, false, false, true, {"Delete", "Add"}, {"Hide", "Show"}},
        TrayBackRow{true, true, false, false, {"Delete", "MakeVisible", "Add"}, {"Hide", "Show"}},
        TrayBackRow{true, true, true, true, {"Delete", "ShowApplication", "Add"}, {"Hide", "Show"}}),
    test::RowNamesBy(&TrayBackRow::visible, &TrayBackRow::enabled, &TrayBackRow::minimizeToTray,
                     &TrayBackRow::ownerVisible));

TEST_F(TrayIconTest, ANewIconIdHidesAndShowsAShownIcon)
{
    tray->SetIconID(4);
    EXPECT_TRUE(state.calls.isEmpty());
    state.ownerVisible = true;
    tray->SetVisible(true);
    state.calls.clear();
    state.icons.clear();
    events.clear();
    tray->SetIconID(7);
    tray->SetIconID(7);
    EXPECT_EQ(state.calls, (QStringList{"Delete", "Add"}));
    ASSERT_EQ(state.icons.size(), 2u);
    EXPECT_EQ(state.icons[0].id, 4u);
    EXPECT_EQ(state.icons[1].id, 7u);
    EXPECT_EQ(events, (QStringList{"Hide", "Show"}));
}

} // namespace
