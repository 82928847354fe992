#pragma once
// The service's own API: authentication, presets, usage and health.
#include "devserver/HttpServer.h"
#include "devserver/TokenStore.h"
#include "devserver/UsageStore.h"

namespace vorlik::devserver {

class ServiceRoutes {
public:
    ServiceRoutes(TokenStore &tokens, UsageStore &usage, QString startedAt);
    void install(HttpServer &server);

private:
    void activate(Exchange &exchange);
    void refresh(Exchange &exchange);
    void logout(Exchange &exchange);
    void presets(Exchange &exchange);
    void reportUsage(Exchange &exchange);
    void health(Exchange &exchange);

    TokenStore &m_tokens;
    UsageStore &m_usage;
    QString m_startedAt;
};

} // namespace vorlik::devserver
