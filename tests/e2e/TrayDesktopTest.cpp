// The agent's icon in a real notification area: a virtual X display, a panel with a tray
// started before the agent (as at login), then the agent, driven with the mouse.
#include "AgentHarness.h"
#include "common/NotificationBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/types.h>

using namespace morvane;
using namespace morvane::e2e;
using namespace std::chrono_literals;

namespace {

// The panel: one tray on a plain dark strip, so an icon that draws nothing shows as one colour.
constexpr const char* kPanelConfig = "rounded = 0\n"
                                     "border_width = 0\n"
                                     "background_color = #203040 100\n"
                                     "border_color = #203040 100\n"
                                     "panel_items = S\n"
                                     "panel_monitor = all\n"
                                     "panel_position = bottom right horizontal\n"
                                     "panel_size = 200 32\n"
                                     "panel_background_id = 1\n"
                                     "systray_padding = 4 4 4\n"
                                     "systray_background_id = 1\n"
                                     "systray_icon_size = 24\n"
                                     "systray_icon_asb = 100 0 0\n";

// A panel's watcher of status notifier items: it hosts them, and keeps the one that comes.
class ItemWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ Hosted)

public:
    bool Hosted() const { return true; }
    QString Item;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { Item = service; }
};

struct IconWindow
{
    QString Id;
    QRect Area; // on the screen
};

// Output of a short tool run; empty when it fails.
QString RunTool(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

class TrayDesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "openbox", "tint2", "xdotool", "xwininfo", "import"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool
                             << " is not installed (scripts/deps.sh installs it): no real tray to test on";
        }
        ASSERT_TRUE(m_dir.isValid());
        if (!StartDisplay())
            GTEST_SKIP() << "Xvfb could not start a virtual display here";
        const QString config = m_dir.filePath("tint2rc");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kPanelConfig);
        file.close();
        // The panel maps itself only under a window manager.
        Start(m_manager, "openbox", {});
        Start(m_panel, "tint2", {"-c", config});
        if (!test::WaitUntil([&] { return Tree().contains("\"tint2\""); }, 10s))
            GTEST_SKIP() << "the panel did not come up on the virtual display";
    }

    void TearDown() override
    {
        m_agent.reset();
        // Ending the display ends every program still on it, the monitor too.
        for (QProcess* p : {&m_panel, &m_manager, &m_server}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000))
                    p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    bool StartDisplay()
    {
        for (int n = 70 + static_cast<int>(QCoreApplication::applicationPid() % 100); n < 270; n += 7) {
            if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            m_display = QString(":%1").arg(n);
            Start(m_server, "Xvfb", {m_display, "-screen", "0", "800x600x24", "-nolisten", "tcp"});
            const QString socket = QString("/tmp/.X11-unix/X%1").arg(n);
            if (test::WaitUntil(
                    [&] { return QFile::exists(socket) || m_server.state() == QProcess::NotRunning; }, 10s) &&
                m_server.state() == QProcess::Running) {
                m_env = QProcessEnvironment::systemEnvironment();
                m_env.insert("DISPLAY", m_display);
                return true;
            }
            m_server.kill();
            m_server.waitForFinished(5000);
        }
        return false;
    }

    void Start(QProcess& p, const QString& program, const QStringList& args)
    {
        QProcessEnvironment env = m_env.isEmpty() ? QProcessEnvironment::systemEnvironment() : m_env;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(program, args);
        p.waitForStarted(10000);
    }

    QString Tree() { return RunTool("xwininfo", {"-root", "-tree"}, m_env); }

    // The agent's icon window, embedded in the panel and mapped; none while it is not.
    std::optional<IconWindow> Icon()
    {
        static const QRegularExpression line(R"((0x[0-9a-f]+) "Morvane Agent": \("quennet")");
        auto it = line.globalMatch(Tree());
        while (it.hasNext()) {
            const QString id = it.next().captured(1);
            const QString info = RunTool("xwininfo", {"-id", id}, m_env);
            if (!info.contains("IsViewable"))
                continue;
            auto number = [&](const char* key) {
                const QRegularExpression re(QString(key) + R"(:\s+(-?\d+))");
                return re.match(info).captured(1).toInt();
            };
            const QRect area(number("Absolute upper-left X"), number("Absolute upper-left Y"),
                             number("Width"), number("Height"));
            if (area.width() > 4 && area.height() > 4)
                return IconWindow{id, area};
        }
        return std::nullopt;
    }

    // How many colours the screen shows in the icon's area; 1 is a blank icon.
    int Colours(const QRect& area)
    {
        const QString file = m_dir.filePath("screen.png");
        QFile::remove(file);
        RunTool("import", {"-window", "root", file}, m_env);
        if (!QFile::exists(file))
            return 0;
        const QImage screen(file);
        QSet<QRgb> seen;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                seen.insert(screen.pixel(x, y));
        return static_cast<int>(seen.size());
    }

    bool DrawnIcon(std::optional<IconWindow>& icon)
    {
        return test::WaitUntil(
            [&] {
                icon = Icon();
                return icon && Colours(icon->Area) >= 3;
            },
            15s);
    }

    void StartAgent(const QString& bus = {})
    {
        m_agent = std::make_unique<AgentProcess>(m_envFolders);
        m_agent->SetEnv("QT_QPA_PLATFORM", "xcb");
        m_agent->SetEnv("DISPLAY", m_display.toStdString());
        if (!bus.isEmpty())
            m_agent->SetEnv("DBUS_SESSION_BUS_ADDRESS", bus.toStdString());
        m_agent->Start();
        ASSERT_TRUE(m_agent->WaitReady()) << m_agent->Output();
    }

    void StopPanel()
    {
        m_panel.terminate();
        if (!m_panel.waitForFinished(5000))
            m_panel.kill();
        m_panel.waitForFinished(5000);
    }

    void StartPanel() { Start(m_panel, "tint2", {"-c", m_dir.filePath("tint2rc")}); }

    QTemporaryDir m_dir;
    QString m_display;
    QProcessEnvironment m_env;
    QProcess m_server;
    QProcess m_manager;
    QProcess m_panel;
    test::TestEnv m_envFolders;
    std::unique_ptr<AgentProcess> m_agent;
};

TEST_F(TrayDesktopTest, IconIsDrawnWhenThePanelWasThereFirstAndSurvivesADoubleClick)
{
    StartAgent();
    std::optional<IconWindow> icon;
    ASSERT_TRUE(DrawnIcon(icon)) << "after start the icon is missing or blank\n" << Tree().toStdString();

    const QPoint centre = icon->Area.center();
    RunTool("xdotool",
            {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "--repeat", "2",
             "--delay", "80", "1"},
            m_env);
    // The double click runs the menu's default item, which brings up the monitor; the
    // agent hides its own windows in the same turn.
    EXPECT_TRUE(test::WaitUntil([&] { return Tree().contains("\"Morvane Monitor\""); }, 20s))
        << "the double click did not bring up the monitor";
    EXPECT_TRUE(DrawnIcon(icon)) << "after a double click the icon is missing or blank\n"
                                 << Tree().toStdString();
    EXPECT_TRUE(m_agent->Running());
}

// The monitor was killed (it crashed): a click on the icon still brings up a monitor.
TEST_F(TrayDesktopTest, ShowMonitorStartsANewMonitorAfterTheLastOneWasKilled)
{
    StartAgent();
    std::optional<IconWindow> icon;
    ASSERT_TRUE(DrawnIcon(icon)) << "after start the icon is missing or blank\n" << Tree().toStdString();
    const QPoint centre = icon->Area.center();
    auto click = [&] {
        RunTool("xdotool",
                {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"}, m_env);
    };
    // The monitor's process, from the first of its windows that names one.
    auto monitorPid = [&] {
        const QString ids = RunTool("xdotool", {"search", "--name", "Morvane Monitor"}, m_env);
        for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
            if (const qint64 pid = RunTool("xdotool", {"getwindowpid", id}, m_env).trimmed().toLongLong())
                return pid;
        }
        return qint64(0);
    };
    click();
    qint64 first = 0;
    ASSERT_TRUE(test::WaitUntil([&] { return (first = monitorPid()) > 0; }, 20s)) << "no monitor came up\n"
                                                                                  << Tree().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(first), SIGKILL), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return monitorPid() == 0; }, 10s));

    click();
    qint64 second = 0;
    EXPECT_TRUE(test::WaitUntil([&] { return (second = monitorPid()) > 0; }, 20s))
        << "after the monitor was killed, Show Monitor did nothing\n"
        << m_agent->Output();
    EXPECT_NE(second, first);
    EXPECT_TRUE(m_agent->WaitOutput("the monitor ended without closing"));
    if (second > 0)
        ::kill(static_cast<pid_t>(second), SIGKILL);
}

// The panel restarts (it crashed, or the user restarted the desktop's shell): the icon
// comes back by itself.
TEST_F(TrayDesktopTest, IconComesBackWhenThePanelRestarts)
{
    StartAgent();
    std::optional<IconWindow> icon;
    ASSERT_TRUE(DrawnIcon(icon)) << "after start the icon is missing or blank\n" << Tree().toStdString();
    StopPanel();
    ASSERT_TRUE(test::WaitUntil([&] { return !Tree().contains("\"tint2\""); }, 10s));
    StartPanel();
    EXPECT_TRUE(DrawnIcon(icon)) << "after the panel restarted the icon is missing or blank\n"
                                 << Tree().toStdString();
    EXPECT_TRUE(m_agent->Running());
}

// A version's balloon on a tray of the X11 kind, on a desktop without a notification
// service: the tray's own balloon stays long enough to read.
TEST_F(TrayDesktopTest, BalloonStaysLongEnoughToRead)
{
    // A monitored file without versions: the agent makes its first one at start.
    const std::string file = m_envFolders.Work() + "doc/a.txt";
    test::WriteFile(file, "first");
    WriteQuickDefaults(m_envFolders);
    test::WriteFile(m_envFolders.Home() + "mvlist.srv",
                    "[" + file +
                        "]\nMonitored=1\nFileID=240501001\nMonMode=0\nMonStatus=1\nDelMode=0\n"
                        "DelModeNumber=10\nIsFolder=0\nFolderWait=0\nMonModeSize=1\nIsSaved=1\n");
    m_agent = std::make_unique<AgentProcess>(m_envFolders);
    m_agent->SetEnv("QT_QPA_PLATFORM", "xcb");
    m_agent->SetEnv("DISPLAY", m_display.toStdString());
    m_agent->SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_dir.filePath("no-bus").toStdString());
    m_agent->Start();
    // The balloon is a window of the agent's own on the screen, wider than any icon (the
    // icon's window is one too until the panel takes it in).
    static const QRegularExpression window(
        R"(\n     0x[0-9a-f]+ "Morvane Agent": \("quennet" "Morvane Agent"\)  (\d+)x)");
    auto shown = [&] {
        auto it = window.globalMatch(Tree());
        while (it.hasNext())
            if (it.next().captured(1).toInt() > 48)
                return true;
        return false;
    };
    // The start's own balloons come and go first.
    ASSERT_TRUE(test::WaitUntil(
        [&] { return std::filesystem::exists(m_envFolders.Home() + "backup/240501001/001/a.txt"); }, 30s))
        << m_agent->Output();
    test::WaitUntil([&] { return false; }, 1s);
    test::WaitUntil([&] { return !shown(); }, 20s);
    ReplaceFile(file, "second", 5);
    ASSERT_TRUE(test::WaitUntil(shown, 30s)) << "no balloon\n" << m_agent->Output() << Tree().toStdString();
    const auto from = std::chrono::steady_clock::now();
    // Gone means none for half a second: a balloon that takes the place of one still
    // shown (the start's, late under load) is a new window, a moment after the old one.
    std::optional<std::chrono::steady_clock::time_point> goneAt;
    test::WaitUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (shown())
                goneAt.reset();
            else if (!goneAt)
                goneAt = now;
            return goneAt && now - *goneAt > 500ms;
        },
        30s);
    EXPECT_GE(goneAt.value_or(std::chrono::steady_clock::now()) - from, 5s)
        << "the balloon was gone before it could be read";
}

// A panel of the D-Bus kind shows the icon's menu from the bus: the item names the agent
// and carries the menu, and Shut down clicked there ends the agent.
TEST_F(TrayDesktopTest, StatusNotifierPanelShowsTheMenuAndItsShutDownEndsTheAgent)
{
    test::NotificationBus bus(false);
    ASSERT_TRUE(bus.Up()) << "no private bus: dbus-daemon did not start";
    QDBusConnection panel = QDBusConnection::connectToBus(bus.Address(), "panel");
    ItemWatcher watcher;
    ASSERT_TRUE(
        panel.registerObject("/StatusNotifierWatcher", &watcher, QDBusConnection::ExportAllContents) &&
        panel.registerService("org.kde.StatusNotifierWatcher"));
    StartAgent(bus.Address());
    ASSERT_TRUE(test::WaitUntil([&] { return !watcher.Item.isEmpty(); })) << m_agent->Output();
    auto send = [&](const QString& path, const QString& method, const QStringList& args) {
        const QStringList call{"--bus=" + bus.Address(), "--print-reply", "--dest=" + watcher.Item, path,
                               method};
        return RunTool("dbus-send", call + args, m_env);
    };
    auto property = [&](const QString& name) {
        return send("/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                    {"string:org.kde.StatusNotifierItem", "string:" + name});
    };
    for (const char* name : {"Title", "Id"})
        EXPECT_TRUE(property(name).contains("string \"Morvane Agent\"")) << property(name).toStdString();
    const QString menu =
        QRegularExpression(R"re(object path "([^"]+)")re").match(property("Menu")).captured(1);
    const QString layout =
        send(menu, "com.canonical.dbusmenu.GetLayout", {"int32:0", "int32:1", "array:string:"});
    const QString shutDown =
        QRegularExpression(R"(int32 (\d+)\s+array \[[^\]]*"Shut down")").match(layout).captured(1);
    ASSERT_TRUE(layout.contains("\"Show Monitor\"") && !shutDown.isEmpty()) << layout.toStdString();
    send(menu, "com.canonical.dbusmenu.Event",
         {"int32:" + shutDown, "string:clicked", "variant:int32:0", "uint32:0"});
    ASSERT_TRUE(m_agent->WaitExit()) << "Shut down did not end the agent";
    EXPECT_EQ(m_agent->ExitCode(), 0);
}

// The agent started before any tray (a login where the panel comes up late): the icon
// appears once the panel does.
TEST_F(TrayDesktopTest, IconAppearsWhenThePanelComesAfterTheAgent)
{
    StopPanel();
    ASSERT_TRUE(test::WaitUntil([&] { return !Tree().contains("\"tint2\""); }, 10s));
    StartAgent();
    StartPanel();
    std::optional<IconWindow> icon;
    EXPECT_TRUE(DrawnIcon(icon)) << "the icon did not appear in the late panel\n" << Tree().toStdString();
}

} // namespace

#include "TrayDesktopTest.moc"
