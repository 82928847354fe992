#include "analysis/SourceFile.h"

#include <QFile>
#include <QPromise>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlik::analysis {

SourceFile::SourceFile(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        m_errorCode = errno;
        return;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        m_errorCode = S_ISDIR(status.st_mode) ? EISDIR : 0;
        ::close(descriptor);
        return;
    }
    m_descriptor = descriptor;
    m_size = qint64(status.st_size);
}

SourceFile::~SourceFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

int SourceFile::release()
{
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    return descriptor;
}

QFuture<std::shared_ptr<SourceFile>> SourceFile::open(const QString &path)
{
    QPromise<std::shared_ptr<SourceFile>> promise;
    QFuture<std::shared_ptr<SourceFile>> future = promise.future();
    promise.start();
    // Detached, not pooled: a thread stuck in the kernel must not hold up the application's
    // exit, which waits for the shared pool.
    std::thread([path, promise = std::move(promise)]() mutable {
        promise.addResult(std::make_shared<SourceFile>(path));
        promise.finish();
    }).detach();
    return future;
}

} // namespace vorlik::analysis
