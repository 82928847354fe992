#include "analysis/UploadSender.h"

#include <QIODevice>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace vorlik::analysis {
namespace {

QNetworkReply::NetworkError networkError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The request line's target: the path (and query) as they stand in the URL.
QByteArray requestTarget(const QUrl &url)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    return target;
}

QByteArray hostField(const QUrl &url, int defaultPort)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != defaultPort)
        host += ':' + QByteArray::number(url.port());
    return host;
}

} // namespace

UploadSender::UploadSender(QUrl url, QList<std::pair<QByteArray, QByteArray>> headers, std::unique_ptr<QIODevice> body,
                           int idleTimeoutMilliseconds)
    : m_url(std::move(url)), m_body(body.release()), m_idleTimeout(idleTimeoutMilliseconds)
{
    m_body->setParent(this);
    const bool secure = m_url.scheme() == QStringLiteral("https");
    m_head = "POST " + requestTarget(m_url) + " HTTP/1.1\r\nHost: " + hostField(m_url, secure ? 443 : 80) + "\r\n";
    for (const auto &[name, value] : headers)
        m_head += name + ": " + value + "\r\n";
    m_head += "Content-Length: " + QByteArray::number(m_body->size() - m_body->pos()) + "\r\nConnection: close\r\n\r\n";
}

UploadSender::~UploadSender()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void UploadSender::start()
{
    if (m_finished) // stopped before it began: nothing is sent
        return;
    // Made here, in the sender's thread, like the socket.
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(m_idleTimeout);
    connect(m_idle, &QTimer::timeout, this, [this] {
        finish(QNetworkReply::TimeoutError, QStringLiteral("Operation timed out"));
    });
    m_idle->start();
    const QString scheme = m_url.scheme();
    if (scheme == QStringLiteral("https")) {
        if (!QSslSocket::supportsSsl()) {
            finish(QNetworkReply::SslHandshakeFailedError, QStringLiteral("TLS is not available"));
            return;
        }
        auto *socket = new QSslSocket;
        m_socket.reset(socket);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setAllowedNextProtocols({QByteArray(QSslConfiguration::NextProtocolHttp1_1)});
        socket->setSslConfiguration(configuration);
        connect(socket, &QSslSocket::encrypted, this, &UploadSender::connected);
        connect(socket, &QSslSocket::encryptedBytesWritten, this, &UploadSender::pump);
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            QStringList texts;
            for (const QSslError &error : errors)
                texts << error.errorString();
            m_sslProblems = texts.join(QStringLiteral("; "));
        });
    } else if (scheme == QStringLiteral("http")) {
        m_socket = std::make_unique<QTcpSocket>();
        connect(m_socket.get(), &QAbstractSocket::connected, this, &UploadSender::connected);
    } else {
        finish(QNetworkReply::ProtocolUnknownError, QStringLiteral("Protocol \"%1\" is unknown").arg(scheme));
        return;
    }
    connect(m_socket.get(), &QAbstractSocket::bytesWritten, this, &UploadSender::pump);
    connect(m_socket.get(), &QAbstractSocket::readyRead, this, &UploadSender::readAnswer);
    connect(m_socket.get(), &QAbstractSocket::errorOccurred, this, &UploadSender::socketFailed);
    const quint16 port = quint16(m_url.port(scheme == QStringLiteral("https") ? 443 : 80));
    if (auto *socket = qobject_cast<QSslSocket *>(m_socket.get()))
        socket->connectToHostEncrypted(m_url.host(), port);
    else
        m_socket->connectToHost(m_url.host(), port);
}

void UploadSender::abort()
{
    finish(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

qint64 UploadSender::queuedBytes() const
{
    const auto *secure = qobject_cast<const QSslSocket *>(m_socket.get());
    return m_socket->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
}

void UploadSender::connected()
{
    m_socket->write(m_head);
    m_bodyLeft = m_body->size() - m_body->pos();
    m_bodySize = m_bodyLeft;
    m_piece.resize(qsizetype(std::min(pieceBytes, std::max<qint64>(m_bodyLeft, 1))));
    m_sending = true;
    pump();
}

void UploadSender::pump()
{
    if (m_finished)
        return;
    reportProgress();
    if (!m_sending)
        return;
    m_idle->start();
    while (m_bodyLeft > 0 && queuedBytes() < windowBytes) {
        const qint64 read = m_body->read(m_piece.data(), std::min<qint64>(m_piece.size(), m_bodyLeft));
        if (read <= 0) {
            finish(QNetworkReply::UnknownContentError,
                   m_body->errorString().isEmpty() ? QStringLiteral("the body ended early") : m_body->errorString());
            return;
        }
        m_socket->write(m_piece.constData(), read);
        m_bodyLeft -= read;
    }
    if (m_bodyLeft == 0) {
        m_sending = false;
        m_piece = QByteArray();
    }
}

void UploadSender::reportProgress()
{
    if (m_bodySize <= 0)
        return;
    // What is still queued in the socket (the head too, and with TLS its records) has not left.
    const qint64 sent = std::clamp<qint64>(m_bodySize - m_bodyLeft - queuedBytes(), 0, m_bodySize);
    if (sent == m_reported)
        return;
    m_reported = sent;
    emit progressed(sent, m_bodySize);
}

void UploadSender::readAnswer()
{
    if (m_finished)
        return;
    m_idle->start();
    const QByteArray bytes = m_socket->readAll();
    switch (m_reader.feed(bytes)) {
    case HttpResponseReader::State::complete:
        // Whatever is still unsent is not wanted: the service has answered.
        finish(QNetworkReply::NoError, QString());
        break;
    case HttpResponseReader::State::malformed:
        finish(QNetworkReply::ProtocolFailure, QStringLiteral("Unreadable answer: ") + m_reader.problem());
        break;
    case HttpResponseReader::State::reading:
        break;
    }
}

void UploadSender::socketFailed()
{
    if (m_finished)
        return;
    readAnswer(); // what arrived before the failure may be a whole answer
    if (m_finished)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError && m_reader.close() == HttpResponseReader::State::complete) {
        finish(QNetworkReply::NoError, QString());
        return;
    }
    const QString text = error == QAbstractSocket::SslHandshakeFailedError && !m_sslProblems.isEmpty()
        ? m_sslProblems
        : m_socket->errorString();
    finish(networkError(error), text);
}

void UploadSender::finish(QNetworkReply::NetworkError error, const QString &text)
{
    if (m_finished)
        return;
    m_finished = true;
    m_sending = false;
    if (m_idle)
        m_idle->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished(m_reader.status(), error == QNetworkReply::NoError ? m_reader.body() : QByteArray(), int(error), text);
}

} // namespace vorlik::analysis
