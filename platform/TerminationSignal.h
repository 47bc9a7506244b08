#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace morvane {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread. The signal handler
// only writes one byte to a close-on-exec self-pipe (async-signal-safe); a QSocketNotifier
// on the pipe's read end emits Received, so the program ends through the same road as a
// user's "Shut down". One instance per process: create it on the main thread after the
// application object. Throws std::system_error when the pipe or a handler cannot be set up.
class TerminationSignal : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override; // restores the default handlers, closes the pipe

signals:
    // The number of the signal that arrived (once per signal delivered).
    void Received(int signalNumber);

private:
    void Drain();

    int m_readFd = -1;
    int m_writeFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Makes a write to a closed pipe fail with EPIPE instead of ending the process: a program
// started by the other one inherits its output, which may be a pipe that closes long before
// it does. Call once at start-up, before any thread starts.
void IgnoreBrokenPipes();

} // namespace morvane
