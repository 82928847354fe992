#pragma once
// The tokens the authentication endpoints return. A value, copied freely.
#include <QByteArray>
#include <QString>

namespace vorlik::service {

struct Session {
    QString accessToken;    // "access_token": the bearer of authenticated calls
    QString refreshToken;   // "refresh_token": empty means the session cannot be refreshed
    QString installationId; // "installation_id"
    QString clientId;       // "client_id": the connected identity
    QString sessionId;      // "session_id": empty for a session taken over from the web page

    // Every member is a required string; throws DecodingError naming the first problem.
    static Session fromJSON(const QByteArray &json);
    // Compact JSON with the members in the order above.
    QByteArray toJSON() const;
};

} // namespace vorlik::service
