#include "convert/ProcessBox.h"

namespace vorlik::convert {

void ProcessBox::store(QProcess *process)
{
    bool terminate = false;
    {
        std::lock_guard guard(m_lock);
        m_process = process;
        terminate = m_terminate;
    }
    if (terminate && process)
        terminateWhenRunning(process);
}

void ProcessBox::clear()
{
    std::lock_guard guard(m_lock);
    m_process.clear();
}

QPointer<QProcess> ProcessBox::process() const
{
    std::lock_guard guard(m_lock);
    return m_process;
}

QPointer<QProcess> ProcessBox::requestTermination()
{
    QPointer<QProcess> process;
    {
        std::lock_guard guard(m_lock);
        m_terminate = true;
        process = m_process;
    }
    if (process)
        terminateWhenRunning(process);
    return process;
}

bool ProcessBox::terminationRequested() const
{
    std::lock_guard guard(m_lock);
    return m_terminate;
}

void ProcessBox::reset()
{
    std::lock_guard guard(m_lock);
    m_process.clear();
    m_terminate = false;
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
