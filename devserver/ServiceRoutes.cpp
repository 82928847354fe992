#include "devserver/ServiceRoutes.h"

#include "devserver/Presets.h"

#include <QDateTime>
#include <QJsonValue>

#include <cmath>

namespace vorlik::devserver {

namespace {

// A member that must be a string; answers 400 naming it otherwise.
std::optional<QString> requireString(Exchange &exchange, const QJsonObject &body, const QString &key, bool allowEmpty = false)
{
    const QJsonValue value = body.value(key);
    if (!value.isString() || (!allowEmpty && value.toString().isEmpty())) {
        exchange.error(400, QStringLiteral("\"%1\" must be a%2 string").arg(key, allowEmpty ? QString() : QStringLiteral(" non-empty")));
        return std::nullopt;
    }
    return value.toString();
}

// A member that must be a whole number >= 0 (a JSON number without a fraction).
std::optional<qint64> requireCount(Exchange &exchange, const QJsonObject &body, const QString &key)
{
    const QJsonValue value = body.value(key);
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || std::floor(number) != number || number > 9.0e15) {
        exchange.error(400, QStringLiteral("\"%1\" must be a whole number >= 0").arg(key));
        return std::nullopt;
    }
    return qint64(number);
}

} // namespace

ServiceRoutes::ServiceRoutes(TokenStore &tokens, UsageStore &usage, QString startedAt)
    : m_tokens(tokens), m_usage(usage), m_startedAt(std::move(startedAt))
{
}

void ServiceRoutes::install(HttpServer &server)
{
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/auth/activate"), [this](Exchange &e) { activate(e); });
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/auth/refresh"), [this](Exchange &e) { refresh(e); });
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/auth/logout"), [this](Exchange &e) { logout(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/v1/presets"), [this](Exchange &e) { presets(e); });
    server.route(QStringLiteral("POST"), QStringLiteral("/v1/usage/convert"), [this](Exchange &e) { reportUsage(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/health"), [this](Exchange &e) { health(e); });
}

void ServiceRoutes::activate(Exchange &exchange)
{
    const auto body = exchange.readJsonObject();
    if (!body)
        return;
    const auto key = requireString(exchange, *body, QStringLiteral("api_key"));
    if (!key)
        return;
    QString label;
    const QJsonValue labelValue = body->value(QStringLiteral("installation_label"));
    if (!labelValue.isUndefined() && !labelValue.isNull()) {
        if (!labelValue.isString()) {
            exchange.error(400, QStringLiteral("\"installation_label\" must be a string"));
            return;
        }
        label = labelValue.toString();
    }
    const auto session = m_tokens.activate(*key, label);
    if (!session) {
        exchange.error(401, QStringLiteral("unknown client key"));
        return;
    }
    exchange.json(200, *session);
}

void ServiceRoutes::refresh(Exchange &exchange)
{
    const auto body = exchange.readJsonObject();
    if (!body)
        return;
    const auto token = requireString(exchange, *body, QStringLiteral("refresh_token"));
    if (!token)
        return;
    const auto session = m_tokens.refresh(*token);
    if (!session) {
        exchange.error(401, QStringLiteral("unknown or already used refresh token"));
        return;
    }
    exchange.json(200, *session);
}

void ServiceRoutes::logout(Exchange &exchange)
{
    if (!exchange.authenticate(m_tokens))
        return;
    const auto body = exchange.readJsonObject();
    if (!body)
        return;
    const auto token = requireString(exchange, *body, QStringLiteral("refresh_token"));
    if (!token)
        return;
    if (!m_tokens.logout(*token)) {
        exchange.error(404, QStringLiteral("unknown refresh token"));
        return;
    }
    exchange.json(200, QJsonObject{{QStringLiteral("ok"), true}});
}

void ServiceRoutes::presets(Exchange &exchange)
{
    if (!exchange.authenticate(m_tokens))
        return;
    exchange.json(200, Presets::document(m_startedAt));
}

void ServiceRoutes::reportUsage(Exchange &exchange)
{
    const auto identity = exchange.authenticate(m_tokens);
    if (!identity)
        return;
    const auto body = exchange.readJsonObject();
    if (!body)
        return;
    const auto processKey = requireString(exchange, *body, QStringLiteral("process_key"));
    if (!processKey)
        return;
    const auto fileCount = requireCount(exchange, *body, QStringLiteral("file_count"));
    if (!fileCount)
        return;
    const auto inputBytes = requireCount(exchange, *body, QStringLiteral("input_bytes"));
    if (!inputBytes)
        return;
    const auto filename = requireString(exchange, *body, QStringLiteral("filename"), true);
    if (!filename)
        return;
    const QJsonObject report{{QStringLiteral("process_key"), *processKey},
                             {QStringLiteral("file_count"), *fileCount},
                             {QStringLiteral("input_bytes"), *inputBytes},
                             {QStringLiteral("filename"), *filename},
                             {QStringLiteral("client_id"), identity->clientId},
                             {QStringLiteral("session_id"), identity->sessionId},
                             {QStringLiteral("received_at"),
                              QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
    QString error;
    const qint64 total = m_usage.add(report, error);
    if (total < 0) {
        exchange.error(500, error);
        return;
    }
    exchange.json(200, QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("total"), total}});
}

void ServiceRoutes::health(Exchange &exchange)
{
    exchange.json(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")},
                                   {QStringLiteral("version"), QStringLiteral("devserver 1.0 (build %1)").arg(VORLIK_DEVSERVER_BUILD)}});
}

} // namespace vorlik::devserver
