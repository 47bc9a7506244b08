// The agent on a desktop without a tray (offscreen has none): what it would show in
// balloons reaches the desktop's notification service, here one on the test's own bus.
#include "AgentFixture.h"
#include "common/NotificationBus.h"
#include "common/TestSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::e2e;

namespace {

// The bus is up and named in the environment before the agent starts.
class BusForAgent
{
public:
    BusForAgent() : m_old(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    {
        if (Bus.Up())
            qputenv("DBUS_SESSION_BUS_ADDRESS", Bus.Address().toUtf8());
    }
    ~BusForAgent() { qputenv("DBUS_SESSION_BUS_ADDRESS", m_old); }
    test::NotificationBus Bus;

private:
    QByteArray m_old;
};

class NoTrayNotifications : public BusForAgent, public AgentTest
{
protected:
    NoTrayNotifications() { folderWait = 0; }
    void SetUp() override
    {
        if (!Bus.Up())
            GTEST_SKIP() << "no dbus-daemon here";
        AgentTest::SetUp();
    }
};

} // namespace

TEST_F(NoTrayNotifications, AgentSaysOnceWhyItHasNoIconAndVersionsReachTheDesktop)
{
    ASSERT_TRUE(Bus.WaitFor(1)) << agent->Output();
    const QStringList first = Bus.Received()[0].split('|');
    ASSERT_EQ(first.size(), 7);
    EXPECT_EQ(first[0], "Morvane Agent");
    // A name the desktop's icon folders hold, or (from the build tree) the icon's file.
    const QString themed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                  "icons/hicolor/256x256/apps/" + first[2] + ".png");
    EXPECT_TRUE(!themed.isEmpty() || QFile::exists(QUrl(first[2]).toLocalFile())) << first[2].toStdString();
    EXPECT_TRUE(first[4].contains("no system tray")) << first[4].toStdString();
    EXPECT_TRUE(first[4].contains("applications menu"));

    const TMonItemRecord rec = Add(MakeFile("notes.txt", "first"));
    Sync();
    mon.ClearReports();
    ReplaceFile(rec.Path.Get(), "second", 5);
    ASSERT_TRUE(mon.WaitReports(MsgVersion, 1));
    ASSERT_TRUE(Bus.WaitFor(2)) << agent->Output();
    const QStringList balloon = Bus.Received().back().split('|');
    ASSERT_EQ(balloon.size(), 7);
    EXPECT_TRUE(balloon[4].contains("notes.txt")) << balloon[4].toStdString();
    EXPECT_EQ(balloon[5].toInt(), -1) << "the desktop's own time";
    int told = 0;
    for (const QString& line : Bus.Received())
        told += line.contains("no system tray") ? 1 : 0;
    EXPECT_EQ(told, 1);

    EXPECT_NE(balloon[1], "1") << "a balloon took the place of the notice";
    // Its default action, as a click on the balloon: the monitor comes up.
    Bus.Invoke(balloon[1].toUInt());
    EXPECT_TRUE(mon.WaitReports(MsgActivate, 1)) << agent->Output();
}
