#pragma once

// The real agent started by a benchmark in its own folders.
#include <QProcess>
#include <string>

namespace morvane::bench {

// The agent runs in its own home, runtime and config folders, offscreen, its boxes
// answered "no", its output dropped (its log kept where MORVANE_BENCH_LOG names a file).
inline QProcessEnvironment SetUpAgentProcess(QProcess& agent, const std::string& home,
                                             const std::string& runtime, const std::string& configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MORVANE_HOME", QString::fromStdString(home));
    env.insert("MORVANE_RUNTIME_DIR", QString::fromStdString(runtime));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    env.insert("MORVANE_AUTO_ANSWER", "no");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    agent.setProcessEnvironment(env);
    agent.setStandardOutputFile(QProcess::nullDevice());
    agent.setStandardErrorFile(qEnvironmentVariable("MORVANE_BENCH_LOG", QProcess::nullDevice()));
    return env;
}

} // namespace morvane::bench
