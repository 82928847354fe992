#pragma once
// Client keys, sessions and their tokens. Access tokens expire; refresh tokens are single-use
// (each refresh hands out a new one); logout ends the whole session.
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>

namespace vorlik::devserver {

class TokenStore {
public:
    struct Identity {
        QString clientId;
        QString sessionId;
        QString installationId;
    };

    enum class Rejection { unknown, expired };

    TokenStore(const QStringList &keys, std::chrono::seconds lifetime);

    bool knowsKey(const QString &key) const;
    // A new session for a known key; none for an unknown one.
    std::optional<QJsonObject> activate(const QString &key, const QString &installationLabel);
    // A new session for a live refresh token; the token itself stops working.
    std::optional<QJsonObject> refresh(const QString &refreshToken);
    // Ends the session of the refresh token (its access tokens too); false when it was unknown.
    bool logout(const QString &refreshToken);

    // Who holds this access token, or why it is refused.
    std::optional<Identity> check(const QString &accessToken, Rejection *why = nullptr) const;
    void expireAccessTokens();

private:
    using Clock = std::chrono::steady_clock;
    struct Access {
        Identity identity;
        Clock::time_point expires;
    };

    QJsonObject issue(const Identity &identity);   // under m_lock
    static QString randomToken(const char *prefix);

    QStringList m_keys;
    std::chrono::seconds m_lifetime;
    mutable std::mutex m_lock;
    std::map<QString, Access> m_access;
    std::map<QString, Identity> m_refresh;
};

} // namespace vorlik::devserver
