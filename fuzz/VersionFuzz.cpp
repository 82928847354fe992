// Release versions: Version::parse and its order. Input: two version texts separated by NUL.
#include "fuzz/FuzzSupport.h"
#include "update/Version.h"

#include <QRegularExpression>

using vorlik::update::Version;

namespace {

// One to three dot-separated pieces of decimal digits, each with an optional "+", each fitting
// a signed 64-bit number.
bool readable(const QString &text)
{
    static const QRegularExpression shape(
        QRegularExpression::anchoredPattern(QStringLiteral("\\+?[0-9]+(\\.\\+?[0-9]+){0,2}")));
    if (!shape.match(text).hasMatch())
        return false;
    for (QString piece : text.split(u'.')) {
        piece.remove(u'+');
        while (piece.size() > 1 && piece.front() == u'0')
            piece.remove(0, 1);
        if (piece.size() > 19 || (piece.size() == 19 && piece > QStringLiteral("9223372036854775807")))
            return false;
    }
    return true;
}

QString written(const Version &v) { return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.patch); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = vorlik::fuzz::parts(data, size, 2);
    const QString first = QString::fromUtf8(input[0]);
    const QString second = QString::fromUtf8(input[1]);
    const std::optional<Version> a = Version::parse(first);
    const std::optional<Version> b = Version::parse(second);
    FUZZ_CHECK(a.has_value() == readable(first), first);
    FUZZ_CHECK(b.has_value() == readable(second), second);
    if (!a || !b)
        return 0;
    FUZZ_CHECK(a->major >= 0 && a->minor >= 0 && a->patch >= 0, written(*a));
    FUZZ_CHECK(Version::parse(written(*a)) == a, written(*a));
    // The order is the order of the three numbers, most significant first.
    const bool less = std::tie(a->major, a->minor, a->patch) < std::tie(b->major, b->minor, b->patch);
    FUZZ_CHECK((*a < *b) == less && (*b > *a) == less, written(*a) + QStringLiteral(" vs ") + written(*b));
    FUZZ_CHECK((*a == *b) == (written(*a) == written(*b)), written(*a) + QStringLiteral(" vs ") + written(*b));
    return 0;
}
