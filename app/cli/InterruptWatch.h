#pragma once
// Ctrl-C, a kill (SIGTERM) or a hang-up (SIGHUP) as an event of the main loop. The program makes
// its one watch first thing in main and keeps it to its last line: a signal never meets the
// default action while a run is under way, nor in the moments after it, when its files are
// written and the status is being returned.
//
// Until a command listens, a signal does what it would without the watch (the program ends: there
// is nothing to stop yet). Once it listens, the handler only writes one byte into a pipe; a
// QSocketNotifier on the other end hears it in the loop and calls `onInterrupt` there, where
// stopping a run is ordinary Qt code, with the signal's count (1, 2 to stop at once, …): the
// program never ends in the middle of removing what a stopped run leaves. Once the watch is gone
// the program is returning its status, and a signal is ignored. A signal the program was started
// ignoring (nohup, a background job) stays ignored.
#include <QPointer>
#include <QSocketNotifier>

#include <functional>

namespace vorlik::app {

class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // From now on the signals are heard in the event loop (which must exist) and call
    // `onInterrupt`.
    void listen(std::function<void(int count)> onInterrupt);
    // What the next signals do, from now on.
    void setOnInterrupt(std::function<void(int count)> onInterrupt) { m_onInterrupt = std::move(onInterrupt); }

    // Ends the program at once with `code`, after writing out what the standard streams hold: for
    // a signal that comes when there is nothing to stop or clean up.
    [[noreturn]] static void exitNow(int code);

private:
    void readSignals();

    int m_pipe[2] = {-1, -1};
    int m_count = 0;
    std::function<void(int count)> m_onInterrupt;
    QPointer<QSocketNotifier> m_notifier; // the application's: it goes before the watch does
};

} // namespace vorlik::app
