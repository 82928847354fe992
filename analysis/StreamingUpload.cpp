#include "analysis/StreamingUpload.h"

#include "analysis/UploadSender.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QThread>

namespace vorlik::analysis {
namespace {

QThread *startedThread = nullptr; // set once, by the first upload

// Ends the upload thread with the application, so that nothing of it runs while the process
// winds down.
void stopUploadThread()
{
    startedThread->quit();
    startedThread->wait(5000);
}

} // namespace

QThread &StreamingUpload::uploadThread()
{
    static QThread *thread = [] {
        startedThread = new QThread;
        startedThread->setObjectName(QStringLiteral("vorlik upload"));
        startedThread->start();
        qAddPostRoutine(stopUploadThread);
        return startedThread;
    }();
    return *thread;
}

StreamingUpload::StreamingUpload(QUrl url, QList<std::pair<QByteArray, QByteArray>> headers,
                                 std::unique_ptr<QIODevice> body, int idleTimeoutMilliseconds)
    : m_sender(new UploadSender(std::move(url), std::move(headers), std::move(body), idleTimeoutMilliseconds))
{
    m_sender->moveToThread(&uploadThread());
    // Queued: the sender reports from its own thread, and the caller may delete this object
    // when it hears the end.
    connect(m_sender, &UploadSender::finished, this, &StreamingUpload::senderFinished, Qt::QueuedConnection);
    connect(m_sender, &UploadSender::progressed, this, &StreamingUpload::progressed, Qt::QueuedConnection);
}

StreamingUpload::~StreamingUpload()
{
    m_sender->disconnect(this);
    // Its destructor closes the connection, on its own thread.
    m_sender->deleteLater();
}

void StreamingUpload::start()
{
    if (m_started || m_finished)
        return;
    m_started = true;
    QMetaObject::invokeMethod(m_sender, &UploadSender::start, Qt::QueuedConnection);
}

void StreamingUpload::abort()
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = QNetworkReply::OperationCanceledError;
    m_errorText = QStringLiteral("Operation canceled");
    m_sender->disconnect(this);
    QMetaObject::invokeMethod(m_sender, &UploadSender::abort, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &StreamingUpload::finished, Qt::QueuedConnection);
}

void StreamingUpload::senderFinished(int status, const QByteArray &answer, int error, const QString &errorText)
{
    if (m_finished)
        return;
    m_finished = true;
    m_status = status;
    m_answer = answer;
    m_error = QNetworkReply::NetworkError(error);
    m_errorText = errorText;
    emit finished();
}

} // namespace vorlik::analysis
