#include "diagnostics/DiagnosticsLogger.h"

#include <QStringView>

namespace vorlik::diagnostics {
namespace {

constexpr qsizetype messageLimit = 4096;

bool isMaskedName(const QString &lowered)
{
    static const QStringList names{
        QStringLiteral("token"),         QStringLiteral("key"),           QStringLiteral("apikey"),
        QStringLiteral("api_key"),       QStringLiteral("access_token"),  QStringLiteral("refresh_token"),
        QStringLiteral("session_id"),    QStringLiteral("client_key"),    QStringLiteral("signature"),
        QStringLiteral("sig"),           QStringLiteral("password"),      QStringLiteral("authorization"),
    };
    return names.contains(lowered);
}

} // namespace

// Only the query string after the first "?" is masked: callers log request lines like
// "GET /v1/x?api_key=…", and a message without a query is taken as it is.
QString DiagnosticsLogger::redact(const QString &message)
{
    QString text = message.size() > messageLimit ? message.left(messageLimit) + QStringLiteral("…") : message;
    const qsizetype question = text.indexOf(QLatin1Char('?'));
    if (question < 0)
        return text;
    QString result = text.left(question + 1);
    const QStringView query = QStringView(text).mid(question + 1);
    for (const QStringView piece : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        const QString lowered = (equals < 0 ? piece : piece.left(equals)).toString().toLower();
        if (isMaskedName(lowered))
            result += lowered + QStringLiteral("=[redacted]");
        else
            result += piece;
        result += QLatin1Char('&');
    }
    if (result.endsWith(QLatin1Char('&')))
        result.chop(1);
    return result;
}

} // namespace vorlik::diagnostics
