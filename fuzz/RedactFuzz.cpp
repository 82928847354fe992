// The masking of query-string secrets in log messages: DiagnosticsLogger::redact. Read
// piece by piece, the result is the message's query with every piece whose name is a secret's
// name (after lowercasing) replaced by that name and "=[redacted]", and nothing else changed.
#include "diagnostics/DiagnosticsLogger.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Graphemes.h"

using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Graphemes;

namespace {

const QStringList maskedNames{QStringLiteral("token"),        QStringLiteral("key"),           QStringLiteral("apikey"),
                              QStringLiteral("api_key"),      QStringLiteral("access_token"),  QStringLiteral("refresh_token"),
                              QStringLiteral("session_id"),   QStringLiteral("client_key"),    QStringLiteral("signature"),
                              QStringLiteral("sig"),          QStringLiteral("password"),      QStringLiteral("authorization")};

QString nameOf(const QString &piece)
{
    const qsizetype equals = piece.indexOf(u'=');
    return equals < 0 ? piece : piece.left(equals);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = vorlik::fuzz::text(data, size);
    const QString result = DiagnosticsLogger::redact(message);
    // The cut: at most 4096 characters as a reader sees them and 16384 UTF-16 units, never
    // inside a character that fits, never inside a surrogate pair.
    QString kept = Graphemes::prefix(message, 4096, 16384);
    FUZZ_CHECK(kept.size() <= 16384 && Graphemes::count(kept) <= 4096, kept);
    FUZZ_CHECK(kept.isEmpty() || !kept.back().isHighSurrogate(), kept);
    if (kept.size() < message.size())
        kept += QStringLiteral("…");

    const qsizetype question = kept.indexOf(u'?');
    if (question < 0) {
        FUZZ_CHECK(result == kept, result);
        return 0;
    }
    FUZZ_CHECK(result.left(question + 1) == kept.left(question + 1), result);
    const QStringList before = kept.mid(question + 1).split(u'&', Qt::SkipEmptyParts);
    const QStringList after = result.mid(question + 1).split(u'&', Qt::KeepEmptyParts);
    if (before.isEmpty()) {
        FUZZ_CHECK(result.size() == question + 1, result);
        return 0;
    }
    FUZZ_CHECK(after.size() == before.size(), kept + QStringLiteral(" -> ") + result);
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QString name = nameOf(before.at(i));
        if (maskedNames.contains(name.toLower())) {
            // A secret's value never reaches the log.
            FUZZ_CHECK(after.at(i) == name.toLower() + QStringLiteral("=[redacted]"), kept + QStringLiteral(" -> ") + result);
        } else if (after.at(i) != before.at(i)) {
            // Masking more than asked is allowed only for a name that matches a secret's name
            // without regard to case (Unicode case folding, where lowercasing alone does not).
            FUZZ_CHECK(maskedNames.contains(name.toCaseFolded()) || maskedNames.contains(name.toLower().toCaseFolded()),
                       kept + QStringLiteral(" -> ") + result);
            FUZZ_CHECK(after.at(i).endsWith(QStringLiteral("=[redacted]")), result);
        }
    }
    return 0;
}
