#include "service/Session.h"

#include "service/JsonFields.h"

namespace vorlik::service {

Session Session::fromJSON(const QByteArray &json)
{
    const json::ObjectReader reader(json::parseObject(json));
    Session session;
    session.accessToken = reader.string(QStringLiteral("access_token"));
    session.refreshToken = reader.string(QStringLiteral("refresh_token"));
    session.installationId = reader.string(QStringLiteral("installation_id"));
    session.clientId = reader.string(QStringLiteral("client_id"));
    session.sessionId = reader.string(QStringLiteral("session_id"));
    return session;
}

QByteArray Session::toJSON() const
{
    return json::ObjectWriter()
        .string(QStringLiteral("access_token"), accessToken)
        .string(QStringLiteral("refresh_token"), refreshToken)
        .string(QStringLiteral("installation_id"), installationId)
        .string(QStringLiteral("client_id"), clientId)
        .string(QStringLiteral("session_id"), sessionId)
        .finish();
}

} // namespace vorlik::service
