// A notification service for tests: serves org.freedesktop.Notifications on the bus at
// argv[1] and writes one line per notification to stdout:
//   NOTIFY <app>|<replaces id>|<icon>|<summary>|<body>|<expire timeout>|<desktop-entry hint>
// After "READY" it takes commands on stdin: "CLOSE <id> <reason>" sends NotificationClosed,
// "INVOKE <id> <action>" ActionInvoked.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <string>
#include <unistd.h>

class Service : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int expireTimeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_next;
        std::printf("NOTIFY %s|%u|%s|%s|%s|%d|%s\n", qPrintable(appName), replacesId, qPrintable(icon),
                    qPrintable(summary), qPrintable(QString(body).replace('\n', ' ')), expireTimeout,
                    qPrintable(hints.value("desktop-entry").toString()));
        std::fflush(stdout);
        return id;
    }
    QStringList GetCapabilities() { return {"body", "actions"}; }

private:
    uint m_next = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), "server");
    Service service;
    if (!bus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications"))
        return 1;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        // Several commands may come in one read.
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            unsigned id = 0;
            unsigned reason = 0;
            char action[64] = {};
            const std::string line = pending.substr(0, end);
            const bool closed = std::sscanf(line.c_str(), "CLOSE %u %u", &id, &reason) == 2;
            if (!closed && std::sscanf(line.c_str(), "INVOKE %u %63s", &id, action) != 2)
                continue;
            QDBusMessage m =
                QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                           closed ? "NotificationClosed" : "ActionInvoked");
            if (closed)
                m << id << reason;
            else
                m << id << QString(action);
            bus.send(m);
        }
    });
    std::printf("READY\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "notification_server.moc"
