#include "service/KeyringThread.h"

#include <QMutexLocker>

namespace vorlik::service {

KeyringThread &KeyringThread::instance()
{
    // Never destroyed: it idles in run() until the process ends.
    static KeyringThread *thread = [] {
        auto *created = new KeyringThread;
        created->start();
        return created;
    }();
    return *thread;
}

KeyringThread::KeyringThread()
{
    setObjectName(QStringLiteral("keyring"));
}

void KeyringThread::enqueue(std::function<void()> task)
{
    QMutexLocker locker(&m_lock);
    m_tasks.push_back(std::move(task));
    m_ready.wakeOne();
}

void KeyringThread::run()
{
    for (;;) {
        std::function<void()> task;
        {
            QMutexLocker locker(&m_lock);
            while (m_tasks.empty())
                m_ready.wait(&m_lock);
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace vorlik::service
