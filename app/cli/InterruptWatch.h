#pragma once
// Ctrl-C as an event of the main loop. The signal handler does only what a handler safely may:
// it writes one byte into a pipe. A QSocketNotifier on the other end hears it in the loop and
// calls `onInterrupt` there, where stopping a run is ordinary Qt code. The handler is installed
// once (SA_RESETHAND), so a second Ctrl-C ends the program the usual way; the previous handler
// is restored when the watch ends.
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <signal.h>

namespace vorlik::app {

class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    int m_pipe[2] = {-1, -1};
    struct sigaction m_previous {};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vorlik::app
