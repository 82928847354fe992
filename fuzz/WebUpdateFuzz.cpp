// What the web page posts about its session: SessionStore::handleWebUpdate, on a store that
// holds a session taken over from the page. Runs in the shared Qt core application; checking an
// adopted session asks the closed loopback port, so it ends at once as "service unavailable".
// Input: one byte choosing the body's type (mostly text), then the body.
#include "fuzz/FuzzSupport.h"
#include "service/SessionStore.h"
#include "tests/support/TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

using vorlik::service::ConnectionState;
using vorlik::service::Session;
using vorlik::service::SessionStore;

namespace {

const QString heldRecord = QStringLiteral(
    R"({"access_token":"held-access","refresh_token":"held-refresh","installation_id":"install-1","client_id":"client-1"})");

QVariant body(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes.mid(1));
    switch (bytes.isEmpty() ? 0 : quint8(bytes.front()) % 16) {
    case 10: return QVariant(bytes.mid(1));                                   // bytes, not text
    case 11: return QVariantMap{{QStringLiteral("v"), text}};                 // a dictionary
    case 12: return QVariant(text.size());                                     // a number
    case 13: return QVariant();                                                // nothing
    case 14: return QVariantList{text};                                        // a list
    default: return QVariant(text);
    }
}

QString member(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

bool sameSession(const std::optional<Session> &a, const std::optional<Session> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a
        || (a->accessToken == b->accessToken && a->refreshToken == b->refreshToken
            && a->installationId == b->installationId && a->clientId == b->clientId && a->sessionId == b->sessionId);
}

QString describeSession(const std::optional<Session> &s)
{
    return s ? s->accessToken + u'|' + s->refreshToken + u'|' + s->clientId : QStringLiteral("none");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = vorlik::fuzz::bytes(data, size);
    SessionStore store;
    vorlik::test::run(store.adoptWebSession(heldRecord));
    const std::optional<Session> held = store.session();
    const ConnectionState heldState = store.state();
    FUZZ_CHECK(held && held->accessToken == QStringLiteral("held-access"), describeSession(held));

    const QVariant message = body(input);
    vorlik::test::run(store.handleWebUpdate(message));
    const std::optional<Session> after = store.session();

    if (message.typeId() != QMetaType::QString || message.toString().isEmpty()) {
        FUZZ_CHECK(sameSession(after, held) && store.state() == heldState, describeSession(after));
        return 0;
    }

    // What the page's message asks for, read independently of the store.
    const QString text = message.toString();
    QString candidate = text;
    if (text.startsWith(u'{')) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
        const QJsonObject notice = document.object();
        if (error.error == QJsonParseError::NoError && document.isObject()
            && (notice.contains(QStringLiteral("v")) || notice.contains(QStringLiteral("p")))) {
            candidate = member(notice, QStringLiteral("v"));
            if (candidate.isEmpty()) {
                const std::optional<Session> removed = SessionStore::parseWebSession(member(notice, QStringLiteral("p")));
                const bool signedOut = removed && removed->accessToken == held->accessToken;
                if (signedOut)
                    FUZZ_CHECK(!after && store.state() == ConnectionState::disconnected(), describeSession(after));
                else
                    FUZZ_CHECK(sameSession(after, held) && store.state() == heldState, describeSession(after));
                return 0;
            }
        }
    }

    const std::optional<Session> parsed = SessionStore::parseWebSession(candidate);
    if (!parsed) {
        FUZZ_CHECK(!after && store.state() == ConnectionState::disconnected(), candidate + QStringLiteral(" left ") + describeSession(after));
    } else if (parsed->accessToken == held->accessToken) {
        FUZZ_CHECK(sameSession(after, held) && store.state() == heldState, describeSession(after));
    } else {
        FUZZ_CHECK(sameSession(after, parsed), candidate + QStringLiteral(" gave ") + describeSession(after));
        FUZZ_CHECK(store.state() == ConnectionState::connected(parsed->clientId), candidate);
        FUZZ_CHECK(store.scriptsUnavailable() && store.presets().isEmpty(), candidate);
    }
    return 0;
}
