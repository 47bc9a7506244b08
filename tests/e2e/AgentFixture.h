#pragma once

#include "AgentHarness.h"

#include <gtest/gtest.h>
#include <memory>

namespace morvane::e2e {

// A running agent in its own folders, with this test as its monitor.
class AgentTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a file or folder through the monitor's ADD and returns the echoed record
    // (MonitorRunning must be 1).
    TMonItemRecord Add(const std::string& path);
    // Makes a file with text in the work folder and returns its path.
    std::string MakeFile(const std::string& name, const std::string& text = "one");

    // Waits until every request posted before has been handled (a CLEAR of a sentinel
    // item is always answered, and requests and reports keep their order); returns every
    // report received so far but the sentinel's.
    std::vector<MonitorClient::Report> Sync();

    test::TestEnv env;
    std::unique_ptr<AgentProcess> agent;
    MonitorClient mon;
    std::string sentinel;

    // Before SetUp starts the agent: the answer to its boxes, and how long folders of
    // added files settle after a change (long by default, so that only the requests a
    // test sends make versions).
    std::string autoAnswer = "no";
    int folderWait = 600;
};

} // namespace morvane::e2e
