#include "devserver/AdminRoutes.h"

namespace vorlik::devserver {

AdminRoutes::AdminRoutes(FaultInjector &faults, RequestLog &log, UsageStore &usage, TokenStore &tokens)
    : m_faults(faults), m_log(log), m_usage(usage), m_tokens(tokens)
{
}

void AdminRoutes::install(HttpServer &server)
{
    const QJsonObject ok{{QStringLiteral("ok"), true}};
    server.route(QStringLiteral("POST"), QStringLiteral("/admin/faults"), [this, ok](Exchange &exchange) {
        const auto body = exchange.readJsonObject();
        if (!body)
            return;
        QString error;
        const auto fault = Fault::fromJson(*body, error);
        if (!fault) {
            exchange.error(400, error);
            return;
        }
        m_faults.add(*fault);
        exchange.json(200, ok);
    });
    server.route(QStringLiteral("GET"), QStringLiteral("/admin/faults"), [this](Exchange &exchange) {
        QJsonArray list;
        for (const Fault &fault : m_faults.list())
            list.append(fault.toJson());
        exchange.json(200, list);
    });
    server.route(QStringLiteral("DELETE"), QStringLiteral("/admin/faults"), [this, ok](Exchange &exchange) {
        m_faults.clear();
        if (m_onClearFaults)
            m_onClearFaults();
        exchange.json(200, ok);
    });
    server.route(QStringLiteral("GET"), QStringLiteral("/admin/requests"),
                 [this](Exchange &exchange) { exchange.json(200, m_log.toJson()); });
    server.route(QStringLiteral("DELETE"), QStringLiteral("/admin/requests"), [this, ok](Exchange &exchange) {
        m_log.clear();
        exchange.json(200, ok);
    });
    server.route(QStringLiteral("GET"), QStringLiteral("/admin/usage"),
                 [this](Exchange &exchange) { exchange.json(200, m_usage.toJson()); });
    server.route(QStringLiteral("POST"), QStringLiteral("/admin/expire-tokens"), [this, ok](Exchange &exchange) {
        m_tokens.expireAccessTokens();
        exchange.json(200, ok);
    });
}

} // namespace vorlik::devserver
