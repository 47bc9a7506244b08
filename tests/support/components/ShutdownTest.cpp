#include "support/components/LoginManagerBackend.h"
#include "support/components/TkitShutdown.h"

#include <QDBusConnection>
#include <gtest/gtest.h>
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
                      RoadRow{aatHibernate, false, false, ShutdownOutcome::NoLoginManager, false}));

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

} // namespace
