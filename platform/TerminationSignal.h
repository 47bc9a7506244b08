#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <thread>

class QSocketNotifier;

namespace morvane {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread. The signal handler
// only writes one byte to a close-on-exec self-pipe (async-signal-safe); a QSocketNotifier
// on the pipe's read end emits Received, so the program ends through the same road as a
// user's "Shut down". That road has kGracePeriod: a watchdog thread, woken by the same
// handler, ends the process with exit code 128 + the signal's number when it is still
// there then (a main thread stuck in a loop, a shutdown that hangs), so a signal always
// ends the program. One instance per process: create it on the main thread after the
// application object. Throws std::system_error when a pipe, the watchdog or a handler
// cannot be set up.
class TerminationSignal : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kGracePeriod{1500};

    explicit TerminationSignal(QObject* parent = nullptr);
    // Restores the default handlers. A watchdog woken by a signal stays to guard the
    // rest of the exit; one that was never woken is stopped.
    ~TerminationSignal() override;

signals:
    // The number of the signal that arrived (once per signal delivered).
    void Received(int signalNumber);

private:
    void Drain();
    void Release();

    int m_readFd = -1;
    int m_writeFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // The watchdog's wake-up pipe (written by the handler) and its stop pipe; the thread
    // owns and closes the read ends.
    int m_watchReadFd = -1;
    int m_watchWriteFd = -1;
    int m_stopReadFd = -1;
    int m_stopWriteFd = -1;
    std::thread m_watchdog;
};

// Makes a write to a closed pipe fail with EPIPE instead of ending the process: a program
// started by the other one inherits its output, which may be a pipe that closes long before
// it does. Call once at start-up, before any thread starts.
void IgnoreBrokenPipes();

} // namespace morvane
