#pragma once
// The running ffmpeg process of a conversion, reachable by the stop command. The lock guards
// only the read or swap of the reference, never a wait. A stop that comes before the process
// is stored is remembered: the process is terminated as soon as it is stored (or, if it has not
// been launched yet, as soon as it starts), so no stop falls between launch and publication.
#include <QPointer>
#include <QProcess>

#include <mutex>

namespace vorlik::convert {

class ProcessBox {
public:
    void store(QProcess *process);
    void clear();
    QPointer<QProcess> process() const;

    // Sends SIGTERM to the held process, and to any process stored later until reset().
    // Returns the process it reached, if any.
    QPointer<QProcess> requestTermination();
    bool terminationRequested() const;
    // Forgets the process and any earlier stop request (before a new run).
    void reset();

private:
    static void terminateWhenRunning(QProcess *process);

    mutable std::mutex m_lock;
    QPointer<QProcess> m_process; // guarded by m_lock
    bool m_terminate = false;     // guarded by m_lock
};

} // namespace vorlik::convert
