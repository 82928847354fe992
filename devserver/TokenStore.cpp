#include "devserver/TokenStore.h"

#include "devserver/ServerOptions.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace vorlik::devserver {

namespace {

QString digest(const QString &text, int length)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(length));
}

} // namespace

TokenStore::TokenStore(const QStringList &keys, std::chrono::seconds lifetime)
    : m_keys(keys), m_lifetime(lifetime)
{
    m_keys.prepend(QString::fromLatin1(ServerOptions::demoKey));
}

bool TokenStore::knowsKey(const QString &key) const { return m_keys.contains(key); }

QString TokenStore::randomToken(const char *prefix)
{
    quint64 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(prefix)
        + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

QJsonObject TokenStore::issue(const Identity &identity)
{
    const QString access = randomToken("vat_");
    const QString refresh = randomToken("vrt_");
    m_access[access] = Access{identity, Clock::now() + m_lifetime};
    m_refresh[refresh] = identity;
    return QJsonObject{{QStringLiteral("access_token"), access},
                       {QStringLiteral("refresh_token"), refresh},
                       {QStringLiteral("installation_id"), identity.installationId},
                       {QStringLiteral("client_id"), identity.clientId},
                       {QStringLiteral("session_id"), identity.sessionId},
                       {QStringLiteral("expires_in"), qint64(m_lifetime.count())}};
}

std::optional<QJsonObject> TokenStore::activate(const QString &key, const QString &installationLabel)
{
    if (!knowsKey(key))
        return std::nullopt;
    Identity identity;
    identity.clientId = key == QString::fromLatin1(ServerOptions::demoKey) ? QStringLiteral("demo-client")
                                                                          : QStringLiteral("client-") + digest(key, 10);
    // The same key and label always name the same installation, like a real service's records.
    identity.installationId = QStringLiteral("inst_") + digest(key + QLatin1Char('\n') + installationLabel, 16);
    identity.sessionId = randomToken("sess_").left(5 + 16);
    std::lock_guard guard(m_lock);
    return issue(identity);
}

std::optional<QJsonObject> TokenStore::refresh(const QString &refreshToken)
{
    std::lock_guard guard(m_lock);
    const auto it = m_refresh.find(refreshToken);
    if (it == m_refresh.end())
        return std::nullopt;
    const Identity identity = it->second;
    m_refresh.erase(it);
    return issue(identity);
}

bool TokenStore::logout(const QString &refreshToken)
{
    std::lock_guard guard(m_lock);
    const auto it = m_refresh.find(refreshToken);
    if (it == m_refresh.end())
        return false;
    const QString session = it->second.sessionId;
    m_refresh.erase(it);
    std::erase_if(m_access, [&](const auto &entry) { return entry.second.identity.sessionId == session; });
    return true;
}

std::optional<TokenStore::Identity> TokenStore::check(const QString &accessToken, Rejection *why) const
{
    std::lock_guard guard(m_lock);
    const auto it = m_access.find(accessToken);
    if (it == m_access.end()) {
        if (why)
            *why = Rejection::unknown;
        return std::nullopt;
    }
    if (Clock::now() >= it->second.expires) {
        if (why)
            *why = Rejection::expired;
        return std::nullopt;
    }
    return it->second.identity;
}

void TokenStore::expireAccessTokens()
{
    std::lock_guard guard(m_lock);
    const auto now = Clock::now();
    for (auto &entry : m_access)
        entry.second.expires = std::min(entry.second.expires, now);
}

} // namespace vorlik::devserver
