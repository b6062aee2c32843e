// SPDX-License-Identifier: Apache-2.0
// Requests to end the program on Linux: SIGTERM, SIGINT and SIGHUP turned into an event.
#include "core/platform/terminationrequests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only do what is safe inside a signal handler: it writes one byte into a socket
// pair, whose other end the event loop watches.
int signalSockets[2] = { -1, -1 };

const int HANDLED_SIGNALS[] = { SIGTERM, SIGINT, SIGHUP };
// The signals this program handles; one that was ignored when the program started (nohup) stays so.
bool handled[NSIG] = {};

extern "C" void onTerminationSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationRequests::TerminationRequests(QObject *parent)
    : QObject(parent)
{
    if (signalSockets[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return;
    // A flood of signals must never block the handler.
    ::fcntl(signalSockets[0], F_SETFL, ::fcntl(signalSockets[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(signalSockets[1], F_SETFL, ::fcntl(signalSockets[1], F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[64];
        while (::read(signalSockets[1], buffer, sizeof(buffer)) > 0) { }
        emit requested();
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : HANDLED_SIGNALS) {
        struct sigaction previous = {};
        if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        handled[signalNumber] = ::sigaction(signalNumber, &action, nullptr) == 0;
    }
}

TerminationRequests::~TerminationRequests()
{
    // From here on the signals end the program at once again, as by default.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : HANDLED_SIGNALS) {
        if (handled[signalNumber])
            ::sigaction(signalNumber, &action, nullptr);
        handled[signalNumber] = false;
    }
}
