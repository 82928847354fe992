#pragma once
// The one thread that talks to the system keyring. Work handed to it runs there one piece at a
// time, in order; each piece may run local event loops (QtKeychain's jobs need one). The
// thread is created on first use and kept for the life of the process.
#include <QFuture>
#include <QMutex>
#include <QPromise>
#include <QThread>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>

namespace vorlik::service {

class KeyringThread : public QThread {
public:
    static KeyringThread &instance();

    // Runs `work` on the keyring thread; the future holds its result.
    template <typename T>
    QFuture<T> submit(std::function<T()> work)
    {
        auto promise = std::make_shared<QPromise<T>>();
        QFuture<T> future = promise->future();
        promise->start();
        enqueue([promise, work = std::move(work)] {
            promise->addResult(work());
            promise->finish();
        });
        return future;
    }

    // Runs `work` there and waits for it (at once when already on the keyring thread).
    template <typename T>
    T call(std::function<T()> work)
    {
        if (QThread::currentThread() == this)
            return work();
        return submit<T>(std::move(work)).result();
    }

protected:
    void run() override;

private:
    KeyringThread();
    void enqueue(std::function<void()> task);

    QMutex m_lock;
    QWaitCondition m_ready;
    std::deque<std::function<void()>> m_tasks; // guarded by m_lock
};

} // namespace vorlik::service
