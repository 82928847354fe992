#include "app/cli/InterruptWatch.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vorlik::app {
namespace {

// The write end of the watch's pipe; read by the handler, which may touch nothing else.
volatile sig_atomic_t interruptPipe = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    if (interruptPipe >= 0)
        [[maybe_unused]] const ssize_t written = ::write(interruptPipe, &byte, 1);
    errno = saved;
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void(int count)> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    interruptPipe = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
        // Two signals close together may arrive as two bytes of one read: each counts.
        char bytes[16];
        ssize_t got = 0;
        while ((got = ::read(m_pipe[0], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < got && m_count < 2; ++i) {
                if (++m_count == 2)
                    restorePrevious();
                // A copy: the call may set the next one.
                const std::function<void(int)> call = m_onInterrupt;
                if (call)
                    call(m_count);
            }
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(watched); ++i) {
        struct sigaction current {};
        sigaction(watched[i], nullptr, &current);
        if (current.sa_handler == SIG_IGN)
            continue;
        m_installed[i] = sigaction(watched[i], &action, &m_previous[i]) == 0;
    }
}

InterruptWatch::~InterruptWatch()
{
    if (m_pipe[0] < 0)
        return;
    restorePrevious();
    interruptPipe = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void InterruptWatch::restorePrevious()
{
    for (std::size_t i = 0; i < std::size(watched); ++i) {
        if (m_installed[i])
            sigaction(watched[i], &m_previous[i], nullptr);
        m_installed[i] = false;
    }
}

void InterruptWatch::exitNow(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

} // namespace vorlik::app
