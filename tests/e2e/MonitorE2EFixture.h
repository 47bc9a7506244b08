#pragma once

#include "AgentHarness.h"
#include "common/TestSupport.h"
#include "monitor/TForm1.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace morvane::monitor {
class MonitorProgram;
}

namespace morvane::e2e {

// The real agent program and the monitor's window in this process, over the same home
// and runtime folders: every command of the window goes to the real agent, and its
// answers come back through the monitor's own answer handler.
class MonitorE2E : public ::testing::Test
{
protected:
    MonitorE2E();
    ~MonitorE2E() override;

    // Starts the agent; with quickDefaults new items make a version on every save and
    // folders settle at once (written into the list file first).
    void StartAgent(bool quickDefaults = true);
    // Starts the monitor program in this process.
    void StartMonitor();
    monitor::TForm1& Form() const;
    // The user's command: the action named, after its rules were asked again.
    void Trigger(const char* action);

    // Adds a file through the window's add command; its row once the agent confirmed it.
    int AddFile(const std::string& path);
    // Selects the row of path (showing its folder first); its row.
    int Select(const std::string& path);
    // The versions column of path's row and the number of rows of the versions list.
    std::string VersionsColumn(const std::string& path);
    int VersionRows() const;
    // Waits until the selected file's versions list has count rows.
    bool WaitVersionRows(int count, std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // The monitor program as its own process (started from the build folder); what it
    // and the programs it starts write goes to MonitorLog().
    std::unique_ptr<QProcess> StartMonitorProcess(const std::string& autoAnswer);
    std::string MonitorLog() const;

    test::TestEnv env;
    std::unique_ptr<AgentProcess> agent;
    std::unique_ptr<monitor::MonitorProgram> program;
    std::vector<monitor::OpenRequest> opened;

private:
    QByteArray m_oldDataHome;
};

} // namespace morvane::e2e
