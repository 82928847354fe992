#pragma once
// The working half of a StreamingUpload, on the upload thread: one HTTP/1.1 POST of a large body
// over a connection of its own (TLS for https), written to the socket in large pieces as fast
// as the socket takes them, with at most a window's worth queued. Qt's network access manager
// feeds a request body to its network thread 16 KiB at a time, each piece asked for and handed
// over across threads, which cost several times the processor time of the transfer itself;
// here the body goes straight from the device to the socket. The answer is read as it arrives;
// one that comes before the body is all sent (a refusal) ends the sending.
#include "analysis/HttpResponseReader.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <utility>

class QAbstractSocket;
class QNetworkProxy;
class QIODevice;
class QTimer;

namespace vorlik::analysis {

class UploadSender : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 pieceBytes = 256 * 1024;  // one read from the body, one socket write
    static constexpr qint64 windowBytes = 1024 * 1024; // most bytes queued in the socket at once

    // Takes `body` (open, at its start, with a known size) as its child. `headers` are sent as
    // given, after Host and before Content-Length.
    UploadSender(QUrl url, QList<std::pair<QByteArray, QByteArray>> headers, std::unique_ptr<QIODevice> body,
                 int idleTimeoutMilliseconds);
    ~UploadSender() override;

    // Both run in the sender's own thread (queued there by StreamingUpload).
    void start();
    void abort();

signals:
    // Once, when the exchange ends: the answer's status and body, or the transport error
    // (QNetworkReply::NetworkError; UnknownContentError when the body could not be read).
    void finished(int status, const QByteArray &answer, int error, const QString &errorText);
    // The bytes of the body that have left for the network so far, of its whole size.
    void progressed(qint64 sent, qint64 total);

private:
    // The request's head; `forwarder`, unless NoProxy, is the HTTP proxy it is handed to.
    QByteArray head(const QNetworkProxy &forwarder) const;
    // The proxy to hand the request to (forwarding) and the one to tunnel through.
    std::pair<QNetworkProxy, QNetworkProxy> proxies() const;
    void connected();
    void pump();
    void readAnswer();
    void socketFailed();
    void readUnreadAnswer();
    void answered();
    void finish(QNetworkReply::NetworkError error, const QString &text);
    qint64 queuedBytes() const;
    void reportProgress();

    QUrl m_url;
    QByteArray m_fields; // the header fields after Host, and the blank line
    QByteArray m_head;
    QIODevice *m_body;
    int m_idleTimeout;
    std::unique_ptr<QAbstractSocket> m_socket;
    int m_spare = -1; // a duplicate of a plain connection's descriptor
    QTimer *m_idle = nullptr;
    QByteArray m_piece;
    qint64 m_bodySize = 0;
    qint64 m_bodyLeft = 0;
    qint64 m_reported = -1; // the last number of bytes told
    bool m_sending = false;
    bool m_finished = false;
    HttpResponseReader m_reader;
};

} // namespace vorlik::analysis
