#pragma once
// The one HTTP client of the service's JSON API. Static coroutines; every call goes through
// request(), which builds the request, sends it, and logs it in category "api".
#include "service/APIError.h"
#include "service/PresetsPayload.h"
#include "service/Session.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;

namespace vorlik::service {

struct APIResponse {
    QByteArray body;
    int status = 0;
};

class APIClient {
public:
    // "baseURL" from the settings when it parses as a URL with a scheme, else the built-in origin.
    static QUrl baseURL();
    // The origin with `path` appended as a path component (a leading "/" does not double it).
    static QUrl url(const QString &path);

    // Throws TransportError or APIError::noData; never judges the status.
    static QCoro::Task<APIResponse> request(QString path, QByteArray method,
                                            std::optional<QByteArray> body = std::nullopt,
                                            std::optional<QString> bearer = std::nullopt);

    static QCoro::Task<Session> activate(QString apiKey);
    static QCoro::Task<Session> refresh(QString refreshToken);
    static QCoro::Task<bool> logout(QString bearer, QString refreshToken); // never throws
    static QCoro::Task<PresetsPayload> fetchPresets(QString bearer);
    // GET "health": the server's build when it answers 200 with a non-empty "version" string.
    static QCoro::Task<std::optional<QString>> serverBuild();

    // The network session every call goes through (one per thread, created on first use).
    static QNetworkAccessManager &networkSession();
};

} // namespace vorlik::service
