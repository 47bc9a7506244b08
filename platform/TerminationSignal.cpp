#include "platform/TerminationSignal.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace morvane {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the main thread; -1 while no instance exists.
volatile std::sig_atomic_t g_writeFd = -1;

extern "C" void OnTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const int fd = g_writeFd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending wake-up; losing this byte loses nothing.
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TerminationSignal::TerminationSignal(QObject* parent) : QObject(parent)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot create the signal pipe");
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_writeFd = m_writeFd;

    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

    struct sigaction action
    {
    };
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        if (sigaction(sig, &action, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot install a signal handler");
    }
}

TerminationSignal::~TerminationSignal()
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        sigaction(sig, &action, nullptr);
    g_writeFd = -1;
    m_notifier.reset();
    close(m_readFd);
    close(m_writeFd);
}

void TerminationSignal::Drain()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = read(m_readFd, bytes, sizeof bytes);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            emit Received(bytes[i]);
    }
}

void IgnoreBrokenPipes()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

} // namespace morvane
