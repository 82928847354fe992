#pragma once
// Small helpers for talking to the stand-in service in its own tests.
#include "tests/support/DevServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QString>

#include <utility>

namespace vorlik::test {

QJsonObject jsonObject(const QByteArray &body);
QByteArray jsonBody(const QJsonObject &object);
// The value at a path of keys and array indexes: at(job, "analysis/audio_streams/0/channels").
QJsonValue at(const QJsonValue &root, const char *path);
// A session for the demo key, as the server answers it.
QJsonObject activateDemo(const DevServer &server);

struct RawReply {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentLength; // the Content-Length header as sent
};
// Like DevServer::call, but reports the transport error too.
RawReply rawCall(const QUrl &baseUrl, const QByteArray &method, const QString &path, const QByteArray &body = {},
                 const QString &bearer = {}, const QByteArray &contentType = "application/json");

} // namespace vorlik::test
