#include "app/cli/InterruptWatch.h"

#include <cerrno>
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

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    interruptPipe = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this, onInterrupt = std::move(onInterrupt)] {
                         char bytes[16];
                         while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
                         }
                         onInterrupt();
                     });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &m_previous);
}

InterruptWatch::~InterruptWatch()
{
    if (m_pipe[0] < 0)
        return;
    sigaction(SIGINT, &m_previous, nullptr);
    interruptPipe = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

} // namespace vorlik::app
