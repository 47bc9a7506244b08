#pragma once

#include "common/TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

namespace morvane::test {

// A session bus of the test's own (a dbus-daemon it starts), with or without a
// notification service that records what it is sent (the helper notification_server):
// the desktop's notification service without a desktop.
class NotificationBus
{
public:
    explicit NotificationBus(bool withService = true)
    {
        // No service folders: a notification daemon installed here never starts on this bus.
        if (!m_config.open() ||
            m_config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><policy "
                           "context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                           "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>") < 0 ||
            !m_config.flush())
            return;
        m_daemon.start("dbus-daemon", {"--config-file=" + m_config.fileName(), "--nofork", "--nopidfile",
                                       "--print-address=1"});
        if (!m_daemon.waitForStarted(5000) || !WaitUntil([this] { return m_daemon.canReadLine(); }))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (!withService) {
            m_up = true;
            return;
        }
        m_server.start(QString::fromStdString(HelperPath("notification_server")), {m_address});
        m_up = m_server.waitForStarted(5000) && WaitUntil([this] {
                   return m_server.canReadLine() && m_server.readLine().startsWith("READY");
               });
    }
    ~NotificationBus()
    {
        for (QProcess* p : {&m_server, &m_daemon}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    NotificationBus(const NotificationBus&) = delete;
    NotificationBus& operator=(const NotificationBus&) = delete;

    bool Up() const { return m_up; }
    // For DBUS_SESSION_BUS_ADDRESS.
    const QString& Address() const { return m_address; }

    // Every notification received so far, one "app|replaces|icon|summary|body|timeout|entry"
    // line each.
    QStringList Received()
    {
        while (m_server.canReadLine()) {
            const QString line = QString::fromUtf8(m_server.readLine()).trimmed();
            if (line.startsWith("NOTIFY "))
                m_received << line.mid(7);
        }
        return m_received;
    }
    // Waits until count notifications have come.
    bool WaitFor(int count)
    {
        return WaitUntil([&] { return Received().size() >= count; });
    }
    // The service closes notification id for reason (1 expired, 2 dismissed).
    void Close(uint id, uint reason)
    {
        m_server.write(QStringLiteral("CLOSE %1 %2\n").arg(id).arg(reason).toUtf8());
        m_server.waitForBytesWritten(1000);
    }
    // The user activates notification id (its default action).
    void Invoke(uint id)
    {
        m_server.write(QStringLiteral("INVOKE %1 default\n").arg(id).toUtf8());
        m_server.waitForBytesWritten(1000);
    }

private:
    QTemporaryFile m_config;
    QProcess m_daemon;
    QProcess m_server;
    QString m_address;
    QStringList m_received;
    bool m_up = false;
};

} // namespace morvane::test
