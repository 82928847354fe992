// The session record the authentication endpoints answer: Session::fromJSON, and the record
// written back with toJSON and decoded again.
#include "fuzz/FuzzSupport.h"
#include "service/JsonFields.h"
#include "service/Session.h"

#include <QJsonDocument>

using vorlik::service::DecodingError;
using vorlik::service::Session;

namespace {

QString fields(const Session &s)
{
    return QStringList{s.accessToken, s.refreshToken, s.installationId, s.clientId, s.sessionId}.join(u'|');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json = vorlik::fuzz::bytes(data, size);
    Session session;
    try {
        session = Session::fromJSON(json);
    } catch (const DecodingError &error) {
        FUZZ_CHECK(!error.description().isEmpty(), QString::fromUtf8(json));
        return 0;
    }
    const QByteArray written = session.toJSON();
    QJsonParseError parseError;
    QJsonDocument::fromJson(written, &parseError);
    FUZZ_CHECK(parseError.error == QJsonParseError::NoError, QString::fromUtf8(written));
    Session again;
    try {
        again = Session::fromJSON(written);
    } catch (const DecodingError &error) {
        vorlik::fuzz::fail("written session decodes", error.description() + QStringLiteral(" in ") + QString::fromUtf8(written));
    }
    FUZZ_CHECK(fields(again) == fields(session), fields(again) + QStringLiteral(" vs ") + fields(session));
    return 0;
}
