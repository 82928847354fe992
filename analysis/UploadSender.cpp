#include "analysis/UploadSender.h"

#include <QIODevice>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

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
    for (const auto &[name, value] : headers)
        m_fields += name + ": " + value + "\r\n";
    m_fields += "Content-Length: " + QByteArray::number(m_body->size() - m_body->pos()) + "\r\nConnection: close\r\n\r\n";
}

QByteArray UploadSender::head(const QNetworkProxy &forwarder) const
{
    const bool secure = m_url.scheme() == QStringLiteral("https");
    QByteArray head = "POST ";
    if (forwarder.type() == QNetworkProxy::NoProxy) {
        head += requestTarget(m_url);
    } else {
        // To a forwarding proxy the request names its origin in full.
        head += m_url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment).toEncoded();
    }
    head += " HTTP/1.1\r\nHost: " + hostField(m_url, secure ? 443 : 80) + "\r\n";
    if (forwarder.type() != QNetworkProxy::NoProxy && !forwarder.user().isEmpty())
        head += "Proxy-Authorization: Basic " + (forwarder.user() + u':' + forwarder.password()).toUtf8().toBase64() + "\r\n";
    return head + m_fields;
}

std::pair<QNetworkProxy, QNetworkProxy> UploadSender::proxies() const
{
    // The proxy the application's other calls take to this URL: a plain http request is handed
    // to an HTTP proxy to forward, as theirs are (many proxies refuse tunnels to port 80);
    // anything else goes through the proxy as a tunnel.
    const bool secure = m_url.scheme() == QStringLiteral("https");
    for (const QNetworkProxy &proxy : QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(m_url))) {
        switch (proxy.type()) {
        case QNetworkProxy::NoProxy:
        case QNetworkProxy::DefaultProxy:
            return {QNetworkProxy(QNetworkProxy::NoProxy), QNetworkProxy(QNetworkProxy::NoProxy)};
        case QNetworkProxy::HttpProxy:
            if (secure)
                return {QNetworkProxy(QNetworkProxy::NoProxy), proxy};
            return {proxy, QNetworkProxy(QNetworkProxy::NoProxy)};
        case QNetworkProxy::HttpCachingProxy:
            if (!secure)
                return {proxy, QNetworkProxy(QNetworkProxy::NoProxy)};
            break;
        case QNetworkProxy::Socks5Proxy:
            return {QNetworkProxy(QNetworkProxy::NoProxy), proxy};
        case QNetworkProxy::FtpCachingProxy:
            break;
        }
    }
    return {QNetworkProxy(QNetworkProxy::NoProxy), QNetworkProxy(QNetworkProxy::NoProxy)};
}

UploadSender::~UploadSender()
{
    if (m_spare >= 0)
        ::close(m_spare);
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
    const auto [forwarder, tunnel] = proxies();
    m_head = head(forwarder);
    m_socket->setProxy(tunnel);
    const quint16 port = quint16(m_url.port(scheme == QStringLiteral("https") ? 443 : 80));
    if (auto *socket = qobject_cast<QSslSocket *>(m_socket.get()))
        socket->connectToHostEncrypted(m_url.host(), port);
    else if (forwarder.type() != QNetworkProxy::NoProxy)
        m_socket->connectToHost(forwarder.hostName(), forwarder.port());
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
    // A second handle on the connection: the socket closes its own the moment a write fails,
    // and an answer may be waiting unread behind that failure (see readUnreadAnswer).
    if (!qobject_cast<QSslSocket *>(m_socket.get()) && m_socket->socketDescriptor() >= 0)
        m_spare = ::dup(int(m_socket->socketDescriptor()));
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
        answered();
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
    readUnreadAnswer();
    if (m_finished)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError && m_reader.close() == HttpResponseReader::State::complete) {
        answered();
        return;
    }
    // Worded as the network access manager words it for the service's other calls.
    const QString text = error == QAbstractSocket::SslHandshakeFailedError
        ? QStringLiteral("SSL handshake failed: ") + m_socket->errorString()
        : m_socket->errorString();
    finish(networkError(error), text);
}

void UploadSender::readUnreadAnswer()
{
    // A server that refuses early and hangs up makes the next write fail, and the socket gives
    // up at once, closing its handle before it has read the answer waiting in the kernel: read
    // it through the spare handle. (Only in the clear: encrypted bytes need the socket itself.)
    if (m_spare < 0)
        return;
    char buffer[16 * 1024];
    while (m_reader.state() == HttpResponseReader::State::reading) {
        const ssize_t got = ::recv(m_spare, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            break;
        m_reader.feed(buffer, qsizetype(got));
    }
    if (m_reader.state() == HttpResponseReader::State::complete)
        answered();
    else if (m_reader.state() == HttpResponseReader::State::malformed)
        finish(QNetworkReply::ProtocolFailure, QStringLiteral("Unreadable answer: ") + m_reader.problem());
}

void UploadSender::answered()
{
    // The upload follows no redirect; one that leads to another origin is named as the other
    // calls name it, so that nobody takes it for the service's own refusal.
    const int status = m_reader.status();
    const QByteArray location = m_reader.header("Location");
    if (status >= 300 && status < 400 && !location.isEmpty()) {
        const QUrl target = m_url.resolved(QUrl::fromEncoded(location));
        if (target.scheme() != m_url.scheme() || target.host() != m_url.host() || target.port() != m_url.port()) {
            finish(QNetworkReply::InsecureRedirectError, QStringLiteral("Insecure redirect"));
            return;
        }
    }
    finish(QNetworkReply::NoError, QString());
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
    if (m_spare >= 0) {
        ::close(m_spare);
        m_spare = -1;
    }
    emit finished(m_reader.status(), error == QNetworkReply::NoError ? m_reader.body() : QByteArray(), int(error), text);
}

} // namespace vorlik::analysis
