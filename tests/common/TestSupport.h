#pragma once

#include "RowNames.h"

#include <QString>
#include <chrono>
#include <functional>
#include <string>

namespace morvane::test {

// Polls pred (processing Qt events meanwhile) until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A private home folder and runtime folder for one test: sets MORVANE_HOME and
// MORVANE_RUNTIME_DIR for this process (and so for children it starts) and
// removes both folders when it goes away. The runtime folder path is kept short
// because socket paths inside it are limited to 108 bytes.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    // Both end with "/".
    const std::string& Home() const { return m_home; }
    const std::string& Runtime() const { return m_runtime; }
    // A scratch folder for files the test monitors, ending with "/".
    const std::string& Work() const { return m_work; }
    // The desktop trash's files folder ($XDG_DATA_HOME, set to the test's own, + "Trash/files/").
    std::string TrashFiles() const { return m_root + "/data/Trash/files/"; }
    // The folder of the programs' log files ($XDG_STATE_HOME, set to the test's own, + "morvane/").
    std::string LogFolder() const { return m_root + "/state/morvane/"; }

private:
    std::string m_root;
    std::string m_home;
    std::string m_runtime;
    std::string m_work;
    QByteArray m_oldHome;
    QByteArray m_oldRuntime;
    QByteArray m_oldData;
    QByteArray m_oldState;
};

// Writes text to path (whole file), creating missing parent folders.
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Path of a child program built from tests/<dir>/helpers/.
std::string HelperPath(const std::string& name);

} // namespace morvane::test
