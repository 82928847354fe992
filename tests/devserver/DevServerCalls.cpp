#include "tests/devserver/DevServerCalls.h"

#include <QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace vorlik::test {

QJsonObject jsonObject(const QByteArray &body) { return QJsonDocument::fromJson(body).object(); }

QByteArray jsonBody(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QJsonValue at(const QJsonValue &root, const char *path)
{
    QJsonValue value = root;
    for (const QString &key : QString::fromLatin1(path).split(QLatin1Char('/'))) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(key);
    }
    return value;
}

QJsonObject activateDemo(const DevServer &server)
{
    const auto [status, body] = server.call(
        "POST", QStringLiteral("/v1/auth/activate"),
        jsonBody({{QStringLiteral("api_key"), server.demoKey()}, {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}}));
    if (status != 200)
        throw std::runtime_error("activate answered " + std::to_string(status) + ": " + body.toStdString());
    return jsonObject(body);
}

RawReply rawCall(const QUrl &baseUrl, const QByteArray &method, const QString &path, const QByteArray &body,
                 const QString &bearer, const QByteArray &contentType)
{
    QNetworkAccessManager manager;
    // `path` may carry a query, which must stay a query, not become part of the path.
    const QUrl url = baseUrl.resolved(QUrl(path));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    if (!bearer.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
    QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
    QCoro::waitFor(qCoro(reply).waitForFinished(std::chrono::seconds(60)));
    RawReply result;
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.contentLength = reply->rawHeader("Content-Length");
    delete reply;
    return result;
}

} // namespace vorlik::test
