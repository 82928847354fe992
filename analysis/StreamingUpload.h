#pragma once
// One HTTP/1.1 POST of a large body over a connection of its own (TLS for https), written to
// the socket in large pieces as fast as the socket takes them, with at most a window's worth
// queued at any time. Qt's network access manager feeds a request body to its network thread
// 16 KiB at a time, each piece asked for and handed over across threads, which cost several
// times the processor time of the transfer itself; here the body goes straight from the device
// to the socket. The answer is read as it arrives; one that comes before the body is all sent
// (a refusal) ends the sending.
#include "analysis/HttpResponseReader.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

class QAbstractSocket;
class QIODevice;

namespace vorlik::analysis {

class StreamingUpload : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 pieceBytes = 256 * 1024;  // one read from the body, one socket write
    static constexpr qint64 windowBytes = 1024 * 1024; // most bytes queued in the socket at once

    // `body` (open, positioned at its start, with a known size) must outlive the upload.
    // `headers` are sent as given, after Host and before Content-Length.
    StreamingUpload(QUrl url, QList<std::pair<QByteArray, QByteArray>> headers, QIODevice &body,
                    int idleTimeoutMilliseconds);
    ~StreamingUpload() override;

    // Connects and sends; finished() follows from the event loop, never from inside start().
    void start();
    // Ends the exchange at once with QNetworkReply::OperationCanceledError (no-op once finished).
    void abort();

    bool isFinished() const { return m_finished; }
    // After finished(): the answer, or the transport error that ended the exchange.
    bool succeeded() const { return m_error == QNetworkReply::NoError; }
    int status() const { return m_reader.status(); }
    const QByteArray &answer() const { return m_reader.body(); }
    QNetworkReply::NetworkError error() const { return m_error; }
    const QString &errorText() const { return m_errorText; }

signals:
    void finished();

private:
    void connected();
    void pump();
    void readAnswer();
    void socketFailed();
    void finish(QNetworkReply::NetworkError error, const QString &text);
    qint64 queuedBytes() const;

    QUrl m_url;
    QByteArray m_head;
    QIODevice &m_body;
    std::unique_ptr<QAbstractSocket> m_socket;
    QTimer m_idle;
    QByteArray m_piece;
    qint64 m_bodyLeft = 0;
    bool m_sending = false;
    bool m_finished = false;
    HttpResponseReader m_reader;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorText;
};

} // namespace vorlik::analysis
