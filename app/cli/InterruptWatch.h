#pragma once
// Ctrl-C, a kill (SIGTERM) or a hang-up (SIGHUP) as an event of the main loop. The signal handler
// does only what a handler safely may: it writes one byte into a pipe. A QSocketNotifier on the
// other end hears it in the loop and calls `onInterrupt` there, where stopping a run is ordinary
// Qt code, with 1 for the first signal and 2 for the second (stop at once). A third signal ends
// the program the usual way: the previous handlers are back by then, as they are when the watch
// ends. A signal the program was started ignoring (nohup, a background job) stays ignored.
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <signal.h>

namespace vorlik::app {

class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void(int count)> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // What the next signals do, from now on.
    void setOnInterrupt(std::function<void(int count)> onInterrupt) { m_onInterrupt = std::move(onInterrupt); }

    // Ends the program at once with `code`, after writing out what the standard streams hold: for
    // a signal that comes before there is anything to stop or clean up.
    [[noreturn]] static void exitNow(int code);

private:
    static constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};

    void restorePrevious();

    int m_pipe[2] = {-1, -1};
    struct sigaction m_previous[std::size(watched)] {};
    bool m_installed[std::size(watched)] {};
    int m_count = 0;
    std::function<void(int count)> m_onInterrupt;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vorlik::app
