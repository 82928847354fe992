#include "diagnostics/DiagnosticsLogger.h"

#include "platform/Graphemes.h"

#include <QStringView>

namespace vorlik::diagnostics {
namespace {

constexpr qsizetype messageLimit = 4096;
// What 4096 characters of four UTF-16 units each (flags, most emoji) take: the line of a message
// made of longer characters stays within this too, so the buffer's memory stays bounded.
constexpr qsizetype messageUnitLimit = 4 * messageLimit;

bool isMaskedName(QStringView name)
{
    static constexpr QLatin1StringView names[] = {
        QLatin1StringView("token"),         QLatin1StringView("key"),           QLatin1StringView("apikey"),
        QLatin1StringView("api_key"),       QLatin1StringView("access_token"),  QLatin1StringView("refresh_token"),
        QLatin1StringView("session_id"),    QLatin1StringView("client_key"),    QLatin1StringView("signature"),
        QLatin1StringView("sig"),           QLatin1StringView("password"),      QLatin1StringView("authorization"),
    };
    for (const QLatin1StringView masked : names)
        if (name.size() == masked.size() && name.compare(masked, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

// Only the query string after the first "?" is masked: callers log request lines like
// "GET /v1/x?api_key=…", and a message without a query is taken as it is.
QString DiagnosticsLogger::redact(const QString &message)
{
    // Counted in characters as a reader sees them (an emoji or a flag is one), never cut inside
    // one that is not longer than the whole allowance.
    QString text = platform::Graphemes::prefix(message, messageLimit, messageUnitLimit);
    if (text.size() < message.size())
        text += QStringLiteral("…");
    const qsizetype question = text.indexOf(QLatin1Char('?'));
    if (question < 0)
        return text;
    QString result;
    result.reserve(text.size() + 64);
    result += QStringView(text).left(question + 1);
    const QStringView query = QStringView(text).mid(question + 1);
    for (const QStringView piece : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        const QStringView name = equals < 0 ? piece : piece.left(equals);
        if (isMaskedName(name))
            result += name.toString().toLower() + QStringLiteral("=[redacted]");
        else
            result += piece;
        result += QLatin1Char('&');
    }
    if (result.endsWith(QLatin1Char('&')))
        result.chop(1);
    return result;
}

} // namespace vorlik::diagnostics
