#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class QSocketNotifier;
class QTimer;

namespace morvane {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread. The signal handler
// only writes one byte to a close-on-exec self-pipe (async-signal-safe); a QSocketNotifier
// on the pipe's read end emits Received, so the program ends through the same road as a
// user's "Shut down".
//
// A watchdog thread, woken by the same handler, guards that road: it ends the process
// with exit code 128 + the signal's number only when the main thread no longer turns,
// that is, when no heartbeat came for kStallLimit (a main thread stuck in a loop or a
// lock, an exit that hangs), or when the stop has lasted kLongestStop however it beats.
// A slow stop that goes on is never cut short. After the signal the main loop beats by
// itself (a timer); a long step of the stop that keeps the main loop from turning (joining
// threads, say) calls Beat while it waits. Before it ends the process the watchdog runs
// the last step (SetLastStep: writing what is pending), for at most kLastStepLimit.
//
// One instance per process: create it on the main thread after the application object.
// Throws std::system_error when a pipe, the watchdog or a handler cannot be set up.
class TerminationSignal : public QObject
{
    Q_OBJECT
public:
    // How long the main thread may give no heartbeat after a signal before it counts as
    // stuck; a loaded machine still turns a loop many times a second.
    static constexpr std::chrono::milliseconds kStallLimit{3000};
    // How long a stop may last after the signal, beating or not.
    static constexpr std::chrono::milliseconds kLongestStop{30000};
    // How long the last step may take before the process ends without it.
    static constexpr std::chrono::milliseconds kLastStepLimit{2000};
    // How often the main loop beats once a signal came.
    static constexpr std::chrono::milliseconds kBeatInterval{100};

    explicit TerminationSignal(QObject* parent = nullptr);
    // Restores the default handlers. A watchdog woken by a signal stays to guard the
    // rest of the exit (which then beats only through Beat); one that was never woken is
    // stopped.
    ~TerminationSignal() override;

    // The main thread is not stuck: a long step of the stop calls it while it waits. Any
    // thread; never blocks; does nothing before a signal came.
    static void Beat() noexcept;

    // The step the watchdog runs on its own thread before it ends a stuck program (the
    // program writes the pending item list). Empty: none. Replacing or clearing it waits
    // for a step that is running, so what the step uses may go once the call returns.
    // The step must not wait for the main thread. Any thread but the watchdog's.
    static void SetLastStep(std::function<void()> step);

signals:
    // The number of the signal that arrived (once per signal delivered).
    void Received(int signalNumber);

private:
    void Drain();
    void Release();

    int m_readFd = -1;
    int m_writeFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // The main loop's heartbeat, started when a signal is drained.
    std::unique_ptr<QTimer> m_beat;
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
