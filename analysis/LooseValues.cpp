#include "analysis/LooseValues.h"

#include <QJsonObject>
#include <QVariant>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace vorlik::analysis {
namespace {

// The signed 64-bit range as doubles: [-2^63, 2^63). 2^63 itself is exactly representable
// and just outside, so the upper bound is exclusive.
constexpr double int64Low = -9223372036854775808.0;
constexpr double int64HighExclusive = 9223372036854775808.0;

// Integer literals that fit are kept exactly by Qt's parser; everything else arrives as a double.
std::optional<qint64> storedInteger(const QJsonValue &json)
{
    const QVariant stored = json.toVariant();
    if (stored.typeId() == QMetaType::LongLong)
        return stored.toLongLong();
    return std::nullopt;
}

std::optional<qint64> wholeNumber(double number)
{
    if (!std::isfinite(number) || number != std::nearbyint(number) || number < int64Low
        || number >= int64HighExclusive)
        return std::nullopt;
    return static_cast<qint64>(number);
}

QString trimmedSpacesAndTabs(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

// The C library's conversion in the "C" locale, so a user's decimal comma never changes what
// the service's numbers mean. The whole text must be consumed; leading white space (which
// strtod would skip) is refused.
std::optional<double> parseDouble(const QString &text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || std::isspace(static_cast<unsigned char>(bytes.front())))
        return std::nullopt;
    char *end = nullptr;
    const double number = strtod_l(bytes.constData(), &end, cLocale);
    if (end != bytes.constData() + bytes.size() || !std::isfinite(number))
        return std::nullopt;
    return number;
}

std::optional<qint64> parseInteger(const QString &text)
{
    QByteArray bytes = text.toLatin1(); // anything outside Latin-1 becomes '?' and fails below
    qsizetype start = 0;
    bool negative = false;
    if (!bytes.isEmpty() && (bytes.front() == '+' || bytes.front() == '-')) {
        negative = bytes.front() == '-';
        start = 1;
    }
    if (start == bytes.size())
        return std::nullopt;
    for (qsizetype i = start; i < bytes.size(); ++i)
        if (bytes.at(i) < '0' || bytes.at(i) > '9')
            return std::nullopt;
    const QByteArray digits = (negative ? QByteArrayLiteral("-") : QByteArray()) + bytes.mid(start);
    qint64 value = 0;
    const auto [end, error] = std::from_chars(digits.constData(), digits.constData() + digits.size(), value);
    if (error != std::errc() || end != digits.constData() + digits.size())
        return std::nullopt;
    return value;
}

} // namespace

QString shortestRoundTripText(double number)
{
    if (std::isnan(number))
        return QStringLiteral("nan");
    if (std::isinf(number))
        return number > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    const double magnitude = std::fabs(number);
    // Plain notation between 1e-4 and 2^54, exponent notation outside, whichever is shorter.
    const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 18014398509481984.0);
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number,
                                            plain ? std::chars_format::fixed : std::chars_format::scientific);
    if (error != std::errc())
        return {};
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (plain && !text.contains(u'.'))
        text += QStringLiteral(".0");
    return text;
}

LooseDouble LooseDouble::fromJSON(const QJsonValue &json)
{
    if (json.isDouble()) {
        if (const std::optional<qint64> integer = storedInteger(json))
            return {static_cast<double>(*integer)};
        const double number = json.toDouble();
        return {std::isfinite(number) ? std::optional<double>(number) : std::nullopt};
    }
    if (json.isString())
        return {parseDouble(trimmedSpacesAndTabs(json.toString()))};
    return {};
}

LooseInt LooseInt::fromJSON(const QJsonValue &json)
{
    if (json.isString()) {
        const QString text = trimmedSpacesAndTabs(json.toString());
        if (text.isEmpty())
            return {};
        return {parseInteger(text)};
    }
    if (json.isDouble()) {
        if (const std::optional<qint64> integer = storedInteger(json))
            return {integer};
        return {wholeNumber(json.toDouble())};
    }
    return {};
}

AnyDecodable AnyDecodable::fromJSON(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::String:
        return {json.toString()};
    case QJsonValue::Double: {
        if (const std::optional<qint64> integer = storedInteger(json))
            return {QString::number(*integer)};
        const double number = json.toDouble();
        if (!std::isfinite(number))
            return {};
        if (const std::optional<qint64> whole = wholeNumber(number))
            return {QString::number(*whole)};
        // Non-integral numbers, and whole numbers too large for 64 bits (1e20 shows as "1e+20").
        return {shortestRoundTripText(number)};
    }
    case QJsonValue::Bool:
        return {json.toBool() ? QStringLiteral("true") : QStringLiteral("false")};
    default:
        return {};
    }
}

LooseTags LooseTags::fromJSON(const QJsonValue &json)
{
    LooseTags tags;
    if (!json.isObject())
        return tags;
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        tags.values.insert(it.key(), AnyDecodable::fromJSON(it.value()).displayString);
    return tags;
}

} // namespace vorlik::analysis
