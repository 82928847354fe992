#include "convert/ProcessBox.h"

namespace vorlik::convert {

void ProcessBox::store(QProcess *process)
{
    if (!process)
        return;
    bool terminate = false;
    {
        std::lock_guard guard(m_lock);
        pruneLocked();
        if (!m_processes.contains(process))
            m_processes.append(process);
        terminate = m_terminate;
    }
    if (terminate)
        terminateWhenRunning(process);
}

void ProcessBox::clear()
{
    std::lock_guard guard(m_lock);
    pruneLocked();
}

QList<QPointer<QProcess>> ProcessBox::processes() const
{
    std::lock_guard guard(m_lock);
    QList<QPointer<QProcess>> alive;
    for (const QPointer<QProcess> &process : m_processes) {
        if (process)
            alive.append(process);
    }
    return alive;
}

QList<QPointer<QProcess>> ProcessBox::requestTermination()
{
    QList<QPointer<QProcess>> reached;
    {
        std::lock_guard guard(m_lock);
        m_terminate = true;
        pruneLocked();
        reached = m_processes;
    }
    for (const QPointer<QProcess> &process : reached) {
        if (process)
            terminateWhenRunning(process);
    }
    return reached;
}

bool ProcessBox::terminationRequested() const
{
    std::lock_guard guard(m_lock);
    return m_terminate;
}

void ProcessBox::reset()
{
    std::lock_guard guard(m_lock);
    m_processes.clear();
    m_terminate = false;
}

void ProcessBox::pruneLocked()
{
    m_processes.removeIf([](const QPointer<QProcess> &process) { return process.isNull(); });
}

void ProcessBox::terminateWhenRunning(QProcess *process)
{
    if (process->state() == QProcess::Running) {
        process->terminate();
        return;
    }
    // Stored before launch (or still starting): terminate the moment it runs. A launch that
    // fails never emits started, and the connection dies with the process.
    QObject::connect(process, &QProcess::started, process, [process] { process->terminate(); },
                     Qt::SingleShotConnection);
}

} // namespace vorlik::convert
