#include "bench/reliability/AdminClient.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace vorlik::soak {

QCoro::Task<std::pair<int, QByteArray>> AdminClient::call(QByteArray method, QString path, QByteArray body)
{
    QUrl url = m_baseUrl;
    url.setPath(path);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(30000);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(m_network.sendCustomRequest(request, method, body),
                                                                    [](QNetworkReply *r) { r->deleteLater(); });
    co_await reply.get();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    // The soak's own connection is closed after each call: a kept TLS connection holds every
    // session ticket the service sends, and the soak measures the program's memory, not its own.
    m_network.clearConnectionCache();
    co_return std::pair<int, QByteArray>{status, answer};
}

QCoro::Task<bool> AdminClient::addFault(QJsonObject fault)
{
    QCoro::Task<std::pair<int, QByteArray>> calling =
        call("POST", QStringLiteral("/admin/faults"), QJsonDocument(fault).toJson(QJsonDocument::Compact));
    std::pair<int, QByteArray> answer = co_await calling;
    co_return answer.first == 200;
}

QCoro::Task<bool> AdminClient::clearFaults()
{
    QCoro::Task<std::pair<int, QByteArray>> calling = call("DELETE", QStringLiteral("/admin/faults"));
    std::pair<int, QByteArray> answer = co_await calling;
    co_return answer.first == 200;
}

QCoro::Task<bool> AdminClient::expireTokens()
{
    QCoro::Task<std::pair<int, QByteArray>> calling = call("POST", QStringLiteral("/admin/expire-tokens"));
    std::pair<int, QByteArray> answer = co_await calling;
    co_return answer.first == 200;
}

QCoro::Task<QJsonObject> AdminClient::usage()
{
    QCoro::Task<std::pair<int, QByteArray>> calling = call("GET", QStringLiteral("/admin/usage"));
    std::pair<int, QByteArray> answer = co_await calling;
    if (answer.first != 200)
        co_return QJsonObject();
    co_return QJsonDocument::fromJson(answer.second).object();
}

} // namespace vorlik::soak
