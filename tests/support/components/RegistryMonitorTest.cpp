#include "common/TestSupport.h"
#include "support/components/TkitCustomRegistryMonitor.h"

#include <gtest/gtest.h>

using namespace morvane;
using std::chrono::milliseconds;

namespace {

void Pump(milliseconds duration)
{
    test::WaitUntil([] { return false; }, duration);
}

class RegistryMonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_env.Work() + "config"));
    }
    void TearDown() override
    {
        if (m_oldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }

    test::TestEnv m_env;
    QByteArray m_oldConfig;
};

// One step done to the store, and whether the monitor of "Software/Watched" (values and
// names, subtree) reports it.
struct Step
{
    const char* What;
    std::function<void(RegistryStore&)> Do;
    bool Reported;
};

TEST_F(RegistryMonitorTest, ReportsChangesOfTheKeyItsCreationAndItsDeletion)
{
    const std::vector<Step> steps = {
        {"other key created", [](RegistryStore& s) { s.CreateKey(rrkCurrentUser, "Software/Other"); }, false},
        {"key created", [](RegistryStore& s) { s.CreateKey(rrkCurrentUser, "Software/Watched"); }, true},
        {"value set", [](RegistryStore& s) { s.WriteValue(rrkCurrentUser, "Software/Watched", "A", "1"); },
         true},
        {"same value again",
         [](RegistryStore& s) { s.WriteValue(rrkCurrentUser, "Software/Watched", "A", "1"); }, false},
        {"value under another root",
         [](RegistryStore& s) { s.WriteValue(rrkLocalMachine, "Software/Watched", "A", "2"); }, false},
        {"subkey value set",
         [](RegistryStore& s) { s.WriteValue(rrkCurrentUser, "Software/Watched/Sub", "B", "x"); }, true},
        {"other key value set",
         [](RegistryStore& s) { s.WriteValue(rrkCurrentUser, "Software/Other", "C", "x"); }, false},
        {"key deleted", [](RegistryStore& s) { s.DeleteKey(rrkCurrentUser, "Software/Watched"); }, true},
        {"key created again", [](RegistryStore& s) { s.CreateKey(rrkCurrentUser, "Software/Watched"); },
         true},
        {"value set on the new key",
         [](RegistryStore& s) { s.WriteValue(rrkCurrentUser, "Software/Watched", "A", "3"); }, true},
    };
    TkitRegistryMonitor monitor;
    int reports = 0;
    monitor.SetRegistryKey("Software/Watched");
    monitor.SetOnChange([&] { ++reports; });
    monitor.SetActive(true);
    ASSERT_NE(monitor.Thread(), nullptr);
    Pump(milliseconds(100));
    EXPECT_FALSE(monitor.Thread()->KeyExists());

    RegistryStore store;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.What);
        const int before = reports;
        step.Do(store);
        if (step.Reported)
            EXPECT_TRUE(test::WaitUntil([&] { return reports == before + 1; }));
        else
            Pump(milliseconds(200));
        Pump(milliseconds(50));
        EXPECT_EQ(reports, before + (step.Reported ? 1 : 0));
    }

    // Stopped: nothing more is reported.
    monitor.SetActive(false);
    const int stopped = reports;
    store.WriteValue(rrkCurrentUser, "Software/Watched", "A", "4");
    Pump(milliseconds(200));
    EXPECT_EQ(reports, stopped);
}

TEST_F(RegistryMonitorTest, ValueFilterIgnoresNewSubkeys)
{
    RegistryStore store;
    store.CreateKey(rrkCurrentUser, "Software/Watched");
    TkitRegistryMonitor monitor;
    int reports = 0;
    monitor.SetRegistryKey("Software/Watched");
    monitor.SetNotifyFilters(rmfValueChange);
    monitor.SetWatchSubTree(false);
    monitor.SetOnChange([&] { ++reports; });
    monitor.SetActive(true);
    Pump(milliseconds(100));
    store.CreateKey(rrkCurrentUser, "Software/Watched/Child");
    Pump(milliseconds(200));
    EXPECT_EQ(reports, 0);
    store.WriteValue(rrkCurrentUser, "Software/Watched", "", "default");
    EXPECT_TRUE(test::WaitUntil([&] { return reports == 1; }));
}

} // namespace
