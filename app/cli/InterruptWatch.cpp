#include "app/cli/InterruptWatch.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace vorlik::app {
namespace {

constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler does with a signal; the handler may read these and nothing else.
enum Handling : sig_atomic_t { asIfUnwatched, toPipe, ignored };
volatile sig_atomic_t handling = asIfUnwatched;
volatile sig_atomic_t interruptPipe = -1;

void onSignal(int number)
{
    const int saved = errno;
    if (handling == toPipe) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(interruptPipe, &byte, 1);
    } else if (handling == asIfUnwatched) {
        // The default action, which the program had before the watch; the signal is blocked
        // while its handler runs, so it takes effect as the handler returns.
        ::signal(number, SIG_DFL);
        ::raise(number);
    }
    errno = saved;
}

} // namespace

InterruptWatch::InterruptWatch()
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    interruptPipe = m_pipe[1];
    handling = asIfUnwatched;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : watched) {
        struct sigaction current {};
        sigaction(number, nullptr, &current);
        if (current.sa_handler != SIG_IGN)
            sigaction(number, &action, nullptr);
    }
}

InterruptWatch::~InterruptWatch()
{
    // The handlers stay, and so does the pipe: a handler may be running in another thread now.
    handling = ignored;
    delete m_notifier;
}

void InterruptWatch::listen(std::function<void(int count)> onInterrupt)
{
    m_onInterrupt = std::move(onInterrupt);
    if (m_pipe[0] < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { readSignals(); });
    handling = toPipe;
}

void InterruptWatch::readSignals()
{
    // Two signals close together may arrive as two bytes of one read: each counts.
    char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(m_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            ++m_count;
            // A copy: the call may set the next one.
            const std::function<void(int)> call = m_onInterrupt;
            if (call)
                call(m_count);
        }
    }
}

void InterruptWatch::exitNow(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

} // namespace vorlik::app
