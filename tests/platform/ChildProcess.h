#pragma once

#include "common/TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <string>

namespace morvane::test {

// One run of the platform_child helper: a second, real process. Killed (SIGKILL) when the
// test is done with it, at the latest on destruction.
class ChildProcess
{
public:
    explicit ChildProcess(const QStringList& args)
    {
        m_process.start(QString::fromStdString(HelperPath("platform_child")), args);
        m_process.waitForStarted(10000);
    }
    ~ChildProcess() { Kill(); }

    // The next line of its output, without the line break; "" when it ended first.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning &&
               std::chrono::steady_clock::now() < deadline)
            m_process.waitForReadyRead(100);
        return m_process.readLine().trimmed().toStdString();
    }

    void WriteLine(const std::string& line)
    {
        m_process.write(QByteArray::fromStdString(line + "\n"));
        m_process.waitForBytesWritten(10000);
    }

    // Waits for it to end by itself; returns its exit code (-1 when it did not end).
    int Finish()
    {
        if (!m_process.waitForFinished(60000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    void Kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
};

} // namespace morvane::test
