#include "MonitorE2EFixture.h"

#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"

#include <QAction>
#include <QTreeWidget>
#include <filesystem>

namespace morvane::e2e {

MonitorE2E::MonitorE2E()
{
    MessageBoxes::Reset();
    monitor::FileDialogs::Reset();
    IniFile::ClearCache();
    // The desktop trash and data of the in-process monitor stay in the test's folders.
    std::filesystem::create_directories(env.Home() + "xdg");
    m_oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(env.Home() + "xdg"));
}

MonitorE2E::~MonitorE2E()
{
    program.reset();
    agent.reset();
    if (m_oldDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", m_oldDataHome);
}

void MonitorE2E::StartAgent(bool quickDefaults)
{
    if (quickDefaults)
        WriteQuickDefaults(env, 0);
    agent = std::make_unique<AgentProcess>(env, "no");
    agent->Start();
    ASSERT_TRUE(agent->WaitReady()) << agent->Output();
}

void MonitorE2E::StartMonitor()
{
    program = std::make_unique<monitor::MonitorProgram>();
    ASSERT_TRUE(program->Start());
    Form().SetOpener([this](const monitor::OpenRequest& request) { opened.push_back(request); });
}

monitor::TForm1& MonitorE2E::Form() const
{
    return *program->Form();
}

void MonitorE2E::Trigger(const char* action)
{
    Form().UpdateActions();
    Form().Action(action)->trigger();
}

int MonitorE2E::AddFile(const std::string& path)
{
    monitor::FileDialogs::PushAnswer(path);
    Trigger("aAdd");
    test::WaitUntil([&] { return Form().RowOfPath(path) >= 0; }, std::chrono::seconds(20));
    return Form().RowOfPath(path);
}

int MonitorE2E::Select(const std::string& path)
{
    if (QTreeWidgetItem* node = Form().FindNode(FolderPart(path)))
        Form().FoldersTree()->setCurrentItem(node);
    const int row = Form().RowOfPath(path);
    Form().FileList()->SetSelected(row);
    return row;
}

std::string MonitorE2E::VersionsColumn(const std::string& path)
{
    const int row = Form().RowOfPath(path);
    return row < 0 ? std::string() : Form().FileList()->SubItem(row, 3).toStdString();
}

int MonitorE2E::VersionRows() const
{
    return Form().VerList()->RowCount();
}

std::string MonitorE2E::MonitorLog() const
{
    return env.Home() + "kelvrim.log";
}

bool MonitorE2E::WaitVersionRows(int count, std::chrono::milliseconds timeout)
{
    return test::WaitUntil([&] { return VersionRows() == count; }, timeout);
}

std::unique_ptr<QProcess> MonitorE2E::StartMonitorProcess(const std::string& autoAnswer)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("MORVANE_AUTO_ANSWER", QString::fromStdString(autoAnswer));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(env.Home() + "config"));
    environment.insert("XDG_DATA_HOME", QString::fromStdString(env.Home() + "xdg"));
    process->setProcessEnvironment(environment);
    // Output goes to a file, not a pipe: an agent the monitor starts inherits it and must
    // not die writing to a pipe that closed with the monitor.
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(QString::fromStdString(MonitorLog()), QIODevice::Append);
    process->start(QString(MORVANE_BIN) + "/kelvrim", {});
    return process;
}

} // namespace morvane::e2e
