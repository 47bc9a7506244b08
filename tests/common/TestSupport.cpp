#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace morvane::test {

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

TestEnv::TestEnv()
{
    char tmpl[] = "/tmp/mvt-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    m_root = made;
    m_home = m_root + "/home/";
    m_runtime = m_root + "/r/";
    m_work = m_root + "/work/";
    std::filesystem::create_directories(m_home);
    std::filesystem::create_directories(m_runtime);
    std::filesystem::create_directories(m_work);
    std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all);
    m_oldHome = qgetenv("MORVANE_HOME");
    m_oldRuntime = qgetenv("MORVANE_RUNTIME_DIR");
    // History a test removes goes to a trash of its own, never the user's.
    m_oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_root + "/data"));
    // Log files of the programs a test starts stay in its folder too.
    m_oldState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(m_root + "/state"));
    qputenv("MORVANE_HOME", QByteArray::fromStdString(m_home));
    qputenv("MORVANE_RUNTIME_DIR", QByteArray::fromStdString(m_runtime));
}

TestEnv::~TestEnv()
{
    if (m_oldHome.isNull())
        qunsetenv("MORVANE_HOME");
    else
        qputenv("MORVANE_HOME", m_oldHome);
    if (m_oldRuntime.isNull())
        qunsetenv("MORVANE_RUNTIME_DIR");
    else
        qputenv("MORVANE_RUNTIME_DIR", m_oldRuntime);
    if (m_oldData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", m_oldData);
    if (m_oldState.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", m_oldState);
    std::error_code ec;
    std::filesystem::permissions(m_root, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_root, ec);
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string HelperPath(const std::string& name)
{
    return std::string(MORVANE_TEST_BIN) + "/" + name;
}

} // namespace morvane::test
