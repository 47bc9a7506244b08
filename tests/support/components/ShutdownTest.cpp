#include "common/RowNames.h"
#include "support/components/LoginManagerBackend.h"
#include "support/components/TkitShutdown.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace morvane;

namespace {

// A system that records what it is asked and never shuts anything down.
struct FakeSystem
{
    struct Call
    {
        TkitShutdownActionType Action;
        bool Force;
    };
    std::vector<Call> calls;
    ShutdownOutcome answer = ShutdownOutcome::Accepted;
};

class FakeBackend : public ShutdownBackend
{
public:
    explicit FakeBackend(FakeSystem* system) : m_system(system) {}
    ShutdownOutcome Request(TkitShutdownActionType action, bool force) override
    {
        m_system->calls.push_back({action, force});
        return m_system->answer;
    }

private:
    FakeSystem* m_system;
};

struct RoadRow
{
    TkitShutdownActionType action;
    bool force;
    bool veto;
    ShutdownOutcome answer;
    bool result;
};

class ShutdownRoadTest : public ::testing::TestWithParam<RoadRow>
{
};

TEST_P(ShutdownRoadTest, AsksTheOwnerFirstThenTheSystem)
{
    const RoadRow& row = GetParam();
    FakeSystem system;
    system.answer = row.answer;
    TkitShutdown shutdown(nullptr, std::make_unique<FakeBackend>(&system));
    EXPECT_EQ(shutdown.ActionType(), aatPowerOff);
    EXPECT_FALSE(shutdown.Force());
    shutdown.SetActionType(row.action);
    shutdown.SetForce(row.force);
    std::size_t callsWhenAsked = 99;
    QObject::connect(&shutdown, &TkitShutdown::OnQueryShutdown, &shutdown, [&](QObject* sender, bool& can) {
        EXPECT_EQ(sender, &shutdown);
        EXPECT_TRUE(can);
        callsWhenAsked = system.calls.size();
        can = !row.veto;
    });
    EXPECT_EQ(shutdown.Execute(), row.result);
    EXPECT_EQ(callsWhenAsked, 0u);
    if (row.veto) {
        EXPECT_TRUE(system.calls.empty());
        EXPECT_EQ(shutdown.LastOutcome(), ShutdownOutcome::Vetoed);
        return;
    }
    ASSERT_EQ(system.calls.size(), 1u);
    EXPECT_EQ(system.calls[0].Action, row.action);
    EXPECT_EQ(system.calls[0].Force, row.force);
    EXPECT_EQ(shutdown.LastOutcome(), row.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShutdownRoadTest,
    ::testing::Values(RoadRow{aatPowerOff, false, true, ShutdownOutcome::Accepted, false},
                      RoadRow{aatReboot, true, true, ShutdownOutcome::Accepted, false},
                      RoadRow{aatPowerOff, false, false, ShutdownOutcome::Accepted, true},
                      RoadRow{aatLogOff, true, false, ShutdownOutcome::Accepted, true},
                      RoadRow{aatSuspend, false, false, ShutdownOutcome::Denied, false},
                      RoadRow{aatHibernate, false, false, ShutdownOutcome::NoLoginManager, false}),
    [](const auto& i) { return test::RowName(i.index, i.param.action, i.param.force, i.param.veto); });

TEST(Shutdown, AFailingHandlerIsNoConsent)
{
    FakeSystem system;
    TkitShutdown shutdown(nullptr, std::make_unique<FakeBackend>(&system));
    TkitComponent::SetExceptionHandler([](QObject*, const std::string&) {});
    QObject::connect(&shutdown, &TkitShutdown::OnQueryShutdown, &shutdown,
                     [](QObject*, bool&) { throw std::runtime_error("handler failed"); });
    EXPECT_FALSE(shutdown.Execute());
    EXPECT_TRUE(system.calls.empty());
    TkitComponent::SetExceptionHandler({});
}

TEST(LoginManager, NoBusIsAResultNeverACrash)
{
    // A bus that does not exist: nothing can be shut down from here.
    const QDBusConnection none =
        QDBusConnection::connectToBus("unix:path=/nonexistent/morvane-test-bus", "c13-none");
    LoginManagerBackend backend(none, none);
    for (auto action : {aatPowerOff, aatShutdown, aatReboot, aatLogOff, aatSuspend, aatHibernate})
        for (bool force : {false, true})
            EXPECT_EQ(backend.Request(action, force), ShutdownOutcome::NoLoginManager);
    QDBusConnection::disconnectFromBus("c13-none");
}

// A bus of the test's own, so a stand-in login manager can answer real D-Bus calls.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty() || !m_dir.isValid())
            return;
        const QString config = m_dir.filePath("bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path() +
                    "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                    "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                    "<allow own=\"*\"/></policy></busconfig>")
                       .toUtf8());
        file.close();
        m_process.start(daemon, {"--config-file=" + config, "--nofork", "--print-address=1"});
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    const QString& Address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_address;
};

// Records every call it gets as "Member(arguments)" and answers it; runs on its own
// thread, as the caller blocks until the answer comes.
class FakeLoginManager : public QDBusVirtualObject
{
public:
    QList<LoginInhibitor> inhibitors;
    bool withFlags = true; // an older login manager has no "...WithFlags" calls

    std::vector<std::string> Calls()
    {
        std::lock_guard guard(m_lock);
        return m_calls;
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QStringList args;
        for (const QVariant& arg : message.arguments())
            args << arg.toString();
        {
            std::lock_guard guard(m_lock);
            m_calls.push_back((message.member() + "(" + args.join(',') + ")").toStdString());
        }
        if (message.member().endsWith("WithFlags") && !withFlags) {
            connection.send(
                message.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", "no such call"));
            return true;
        }
        QDBusMessage reply = message.createReply();
        if (message.member() == "ListInhibitors")
            reply << QVariant::fromValue(inhibitors);
        connection.send(reply);
        return true;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_calls;
};

struct CallRow
{
    const char* Name;
    TkitShutdownActionType Action;
    bool Force;
    const char* HeldWhat; // a program's lock on this ("" none)
    const char* HeldMode;
    bool WithFlags;
    std::vector<std::string> Calls;
    ShutdownOutcome Outcome;
};

class LoginManagerCallTest : public ::testing::TestWithParam<CallRow>
{
};

TEST_P(LoginManagerCallTest, EachActionMakesItsCall)
{
    const CallRow& row = GetParam();
    PrivateBus bus;
    if (bus.Address().isEmpty())
        GTEST_SKIP() << "no dbus-daemon here";
    QThread thread;
    FakeLoginManager fake;
    thread.start();
    fake.withFlags = row.WithFlags;
    if (*row.HeldWhat)
        fake.inhibitors.push_back({row.HeldWhat, "editor", "unsaved work", row.HeldMode, 1000, 42});
    {
        QDBusConnection service = QDBusConnection::connectToBus(bus.Address(), "fake-login");
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerService("org.freedesktop.login1"));
        ASSERT_TRUE(
            service.registerVirtualObject("/org/freedesktop/login1", &fake, QDBusConnection::SubPath));
        fake.moveToThread(&thread);
        QDBusConnection client = QDBusConnection::connectToBus(bus.Address(), "login-client");
        LoginManagerBackend backend(client, client);
        EXPECT_EQ(backend.Request(row.Action, row.Force), row.Outcome);
        EXPECT_EQ(fake.Calls(), row.Calls);
        service.unregisterObject("/org/freedesktop/login1", QDBusConnection::UnregisterTree);
    }
    QDBusConnection::disconnectFromBus("login-client");
    QDBusConnection::disconnectFromBus("fake-login");
    thread.quit();
    thread.wait();
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoginManagerCallTest,
    ::testing::Values(
        CallRow{"PowerOff",
                aatPowerOff,
                false,
                "",
                "",
                true,
                {"ListInhibitors()", "PowerOffWithFlags(1)"},
                ShutdownOutcome::Accepted},
        CallRow{"PowerOffForced",
                aatPowerOff,
                true,
                "shutdown",
                "block",
                true,
                {"PowerOffWithFlags(0)"},
                ShutdownOutcome::Accepted},
        CallRow{"ShutdownHeldOff",
                aatShutdown,
                false,
                "sleep:shutdown",
                "block",
                true,
                {"ListInhibitors()"},
                ShutdownOutcome::Denied},
        CallRow{"RebootDelayedOnly",
                aatReboot,
                false,
                "shutdown",
                "delay",
                true,
                {"ListInhibitors()", "RebootWithFlags(1)"},
                ShutdownOutcome::Accepted},
        CallRow{
            "RebootForced", aatReboot, true, "", "", true, {"RebootWithFlags(0)"}, ShutdownOutcome::Accepted},
        CallRow{"SuspendWhileShutdownHeld",
                aatSuspend,
                false,
                "shutdown",
                "block",
                true,
                {"ListInhibitors()", "SuspendWithFlags(1)"},
                ShutdownOutcome::Accepted},
        CallRow{"SuspendForced",
                aatSuspend,
                true,
                "sleep",
                "block",
                true,
                {"SuspendWithFlags(0)"},
                ShutdownOutcome::Accepted},
        CallRow{"HibernateHeldOff",
                aatHibernate,
                false,
                "sleep",
                "block",
                true,
                {"ListInhibitors()"},
                ShutdownOutcome::Denied},
        CallRow{"HibernateForcedOlderManager",
                aatHibernate,
                true,
                "",
                "",
                false,
                {"HibernateWithFlags(0)", "Hibernate(true)"},
                ShutdownOutcome::Accepted},
        CallRow{"LogOffForcedEndsTheSession",
                aatLogOff,
                true,
                "",
                "",
                true,
                {"Terminate()"},
                ShutdownOutcome::Accepted},
        CallRow{"LogOffWithoutSessionManager",
                aatLogOff,
                false,
                "",
                "",
                true,
                {},
                ShutdownOutcome::NoLoginManager}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
