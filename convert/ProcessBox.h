#pragma once
// The running ffmpeg processes of a run's conversions, reachable by the stop command. The lock
// guards only the reads and changes of the list, never a wait. A stop that comes before a
// process is stored is remembered: the process is terminated as soon as it is stored (or, if it
// has not been launched yet, as soon as it starts), so no stop falls between launch and
// publication. A process is forgotten once it has gone (its object deleted).
#include <QList>
#include <QPointer>
#include <QProcess>

#include <mutex>

namespace vorlik::convert {

class ProcessBox {
public:
    // Adds the process beside those already held (conversions may run side by side).
    void store(QProcess *process);
    // Forgets the processes that have gone.
    void clear();
    QList<QPointer<QProcess>> processes() const;

    // Sends SIGTERM to every held process, and to any process stored later until reset().
    // Returns the processes it reached.
    QList<QPointer<QProcess>> requestTermination();
    bool terminationRequested() const;
    // Forgets the processes and any earlier stop request (before a new run).
    void reset();

private:
    static void terminateWhenRunning(QProcess *process);
    void pruneLocked();

    mutable std::mutex m_lock;
    QList<QPointer<QProcess>> m_processes; // guarded by m_lock
    bool m_terminate = false;              // guarded by m_lock
};

} // namespace vorlik::convert
