#pragma once
// One large upload, sent by an UploadSender on the upload thread: the socket, the reading of the
// body (a source file perhaps not in the page cache) and the encryption all stay off the thread
// that asked for it, which only hears the end. Stop ends the exchange at once for the caller;
// the sender winds down on its own thread.
#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <utility>

class QIODevice;
class QThread;

namespace vorlik::analysis {

class UploadSender;

class StreamingUpload : public QObject {
    Q_OBJECT
public:
    // `body` (open, at its start, with a known size) goes with the sender to the upload thread.
    StreamingUpload(QUrl url, QList<std::pair<QByteArray, QByteArray>> headers, std::unique_ptr<QIODevice> body,
                    int idleTimeoutMilliseconds);
    ~StreamingUpload() override;

    // Connects and sends; finished() follows from the event loop, never from inside start().
    void start();
    // Ends the exchange at once with QNetworkReply::OperationCanceledError (no-op once finished).
    void abort();

    bool isFinished() const { return m_finished; }
    // After finished(): the answer, or the transport error that ended the exchange.
    bool succeeded() const { return m_error == QNetworkReply::NoError; }
    // The body could not be read (its device says why); the sender is done with it.
    bool bodyFailed() const { return m_error == QNetworkReply::UnknownContentError; }
    int status() const { return m_status; }
    const QByteArray &answer() const { return m_answer; }
    QNetworkReply::NetworkError error() const { return m_error; }
    const QString &errorText() const { return m_errorText; }

    // The one thread every upload is sent from, started on first use.
    static QThread &uploadThread();

signals:
    void finished();
    // The bytes of the body that have left for the network so far, of its whole size.
    void progressed(qint64 sent, qint64 total);

private:
    void senderFinished(int status, const QByteArray &answer, int error, const QString &errorText);

    UploadSender *m_sender; // lives on the upload thread; deleted there
    bool m_started = false;
    bool m_finished = false;
    int m_status = 0;
    QByteArray m_answer;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorText;
};

} // namespace vorlik::analysis
