#include "support/components/DesktopNotifications.h"

#include "common/NotificationBus.h"
#include "common/TestSupport.h"
#include "support/components/QtTrayShell.h"

#include <QDBusConnection>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

using namespace morvane;

namespace {

// One line of the service: app|replaces|icon|summary|body|timeout|entry.
QStringList Fields(const QString& line)
{
    return line.split('|');
}

QDBusConnection ClientOf(const test::NotificationBus& bus)
{
    static int n = 0;
    return QDBusConnection::connectToBus(bus.Address(), QStringLiteral("client-%1").arg(++n));
}

struct BalloonCase
{
    const char* name;
    int timeoutMs;
    QString text;
    QString shownBody;
    int expireTimeout;
};

void PrintTo(const BalloonCase& c, std::ostream* out)
{
    *out << c.name;
}

class NotificationBalloons : public ::testing::TestWithParam<BalloonCase>
{
};

TEST_P(NotificationBalloons, ReachTheServiceWithTheirTime)
{
    const BalloonCase& c = GetParam();
    test::NotificationBus bus;
    if (!bus.Up())
        GTEST_SKIP() << "no dbus-daemon here";
    DesktopNotifications notifications("Morvane Agent", "org.example.Icon", ClientOf(bus));
    ASSERT_TRUE(notifications.Available());
    ASSERT_TRUE(notifications.Show("Morvane", c.text, tiiInfo, c.timeoutMs));
    ASSERT_TRUE(bus.WaitFor(1));
    const QStringList f = Fields(bus.Received()[0]);
    ASSERT_EQ(f.size(), 7) << bus.Received()[0].toStdString();
    EXPECT_EQ(f[0], "Morvane Agent");
    EXPECT_EQ(f[2], "org.example.Icon");
    EXPECT_EQ(f[3], "Morvane");
    EXPECT_EQ(f[4], c.shownBody);
    EXPECT_EQ(f[5].toInt(), c.expireTimeout);
    EXPECT_EQ(f[6], MORVANE_APP_ID);
}

INSTANTIATE_TEST_SUITE_P(Table, NotificationBalloons,
                         ::testing::Values(
                             // The desktop decides how long a balloon stays, never a second.
                             BalloonCase{"desktop time", 0, "a.txt: version 3", "a.txt: version 3", -1},
                             BalloonCase{"set time", 3000, "a.txt", "a.txt", 3000},
                             // A file name is text, never markup the desktop would drop or break on.
                             BalloonCase{"markup in a name", 0, "<b>&x.txt", "&lt;b&gt;&amp;x.txt", -1}),
                         test::RowNamesBy(&BalloonCase::name));

TEST(NotificationService, NextBalloonReplacesTheLastAndOnlyItsExpiryIsReported)
{
    test::NotificationBus bus;
    if (!bus.Up())
        GTEST_SKIP() << "no dbus-daemon here";
    DesktopNotifications notifications("Morvane Agent", "icon", ClientOf(bus));
    int expired = 0;
    QObject::connect(&notifications, &DesktopNotifications::Expired, &notifications, [&] { ++expired; });
    notifications.Show("t", "one", tiiInfo, 0);
    ASSERT_TRUE(bus.WaitFor(1));
    // Dismissed by the user: no time ran out.
    bus.Close(1, 2);
    bus.Close(1, 1);
    ASSERT_TRUE(test::WaitUntil([&] { return expired == 1; }));
    notifications.Show("t", "two", tiiInfo, 0);
    ASSERT_TRUE(bus.WaitFor(2));
    EXPECT_EQ(Fields(bus.Received()[1])[1], "1") << "replaces the first";
    // Another program's notification closing is not ours.
    bus.Close(7, 1);
    test::WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(expired, 1);
}

TEST(NotificationService, MissingServiceIsNoService)
{
    test::NotificationBus bus(false);
    if (!bus.Up())
        GTEST_SKIP() << "no dbus-daemon here";
    EXPECT_FALSE(DesktopNotifications("a", "i", ClientOf(bus)).Available());
    EXPECT_FALSE(DesktopNotifications("a", "i", QDBusConnection("not connected")).Available());
}

TEST(NotificationService, WithoutTrayBalloonsGoToTheService)
{
    test::NotificationBus bus;
    if (!bus.Up())
        GTEST_SKIP() << "no dbus-daemon here";
    QtTrayShell shell(ClientOf(bus));
    ASSERT_FALSE(shell.TrayAvailable()) << "offscreen has no tray";
    std::vector<TrayNotification> seen;
    shell.SetNotificationSink([&](TrayNotification n) { seen.push_back(n); });
    shell.ShowBalloon({}, TrayBalloon{"Morvane", "b.txt", 0, tiiInfo});
    ASSERT_TRUE(bus.WaitFor(1));
    EXPECT_EQ(Fields(bus.Received()[0])[4], "b.txt");
    ASSERT_TRUE(test::WaitUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen[0], TrayNotification::BalloonShow);
    bus.Close(1, 1);
    ASSERT_TRUE(test::WaitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1], TrayNotification::BalloonTimeout);
}

} // namespace
