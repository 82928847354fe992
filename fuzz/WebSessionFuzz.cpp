// The web page's session record: SessionStore::parseWebSession. A record it accepts, written
// the way the application writes it for the page, reads back as the same session.
#include "fuzz/FuzzSupport.h"
#include "service/SessionStore.h"

#include <QJsonDocument>
#include <QJsonObject>

using vorlik::service::Session;
using vorlik::service::SessionStore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString raw = vorlik::fuzz::text(data, size);
    const std::optional<Session> session = SessionStore::parseWebSession(raw);
    FUZZ_CHECK(SessionStore::parseWebSession(raw).has_value() == session.has_value(), raw);
    if (!session)
        return 0;
    FUZZ_CHECK(!session->accessToken.isEmpty() || !session->refreshToken.isEmpty(), raw);
    FUZZ_CHECK(session->sessionId.isEmpty(), raw);

    const QJsonObject record{{QStringLiteral("access_token"), session->accessToken},
                             {QStringLiteral("refresh_token"), session->refreshToken},
                             {QStringLiteral("installation_id"), session->installationId},
                             {QStringLiteral("client_id"), session->clientId}};
    const QString written = QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
    const std::optional<Session> again = SessionStore::parseWebSession(written);
    FUZZ_CHECK(again.has_value(), written);
    // Texts with unpaired surrogates cannot be written as UTF-8; everything else survives.
    using vorlik::fuzz::isWellFormed;
    if (isWellFormed(session->accessToken) && isWellFormed(session->refreshToken)
        && isWellFormed(session->installationId) && isWellFormed(session->clientId)) {
        FUZZ_CHECK(again->accessToken == session->accessToken && again->refreshToken == session->refreshToken
                       && again->installationId == session->installationId && again->clientId == session->clientId,
                   raw + QStringLiteral(" written as ") + written);
    }
    return 0;
}
