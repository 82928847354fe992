#include "service/JsonReader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace vorlik::service {
namespace {

enum class Range { fits, tooLarge, tooSmall };

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, the only numbers JSON has.
bool isJsonNumber(const QByteArray &token)
{
    qsizetype i = 0;
    const qsizetype size = token.size();
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < size && isDigit(token.at(i)))
            ++i;
        return i > start;
    };
    if (i < size && token.at(i) == '-')
        ++i;
    if (i < size && token.at(i) == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < size && token.at(i) == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < size && (token.at(i) == 'e' || token.at(i) == 'E')) {
        ++i;
        if (i < size && (token.at(i) == '+' || token.at(i) == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == size;
}

// How a number token reads as a double, in the "C" locale whatever the user's. Anything that
// is not a JSON number is left for the parser to refuse.
Range rangeOf(const QByteArray &token)
{
    if (!isJsonNumber(token))
        return Range::fits;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char *end = nullptr;
    errno = 0;
    const double number = strtod_l(token.constData(), &end, cLocale);
    if (end != token.constData() + token.size() || errno != ERANGE)
        return Range::fits;
    if (std::isinf(number))
        return Range::tooLarge;
    // A result below the normal range that is still not zero is one Qt accepts.
    return number == 0 ? Range::tooSmall : Range::fits;
}

bool startsNumber(char c) { return c == '-' || isDigit(c); }
bool continuesNumber(char c) { return isDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

// The document with every number token outside a double's range replaced: one too large by a
// string `marker` followed by its sign, one too small by 0. Strings are copied as they are.
// `replaced` tells whether a marker was written.
QByteArray withNumbersInRange(const QByteArray &json, const QByteArray &marker, bool &replaced)
{
    QByteArray out;
    out.reserve(json.size() + 64);
    const qsizetype size = json.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = json.at(i);
        if (c == '"') {
            // A string up to its closing quote; an escaped quote does not end it.
            qsizetype end = i + 1;
            while (end < size && json.at(end) != '"')
                end += json.at(end) == '\\' ? 2 : 1;
            end = std::min(end + 1, size);
            out.append(json.constData() + i, end - i);
            i = end;
        } else if (startsNumber(c)) {
            qsizetype end = i + 1;
            while (end < size && continuesNumber(json.at(end)))
                ++end;
            const QByteArray token = json.mid(i, end - i);
            switch (rangeOf(token)) {
            case Range::fits:
                out.append(token);
                break;
            case Range::tooLarge:
                out.append('"').append(marker).append(c == '-' ? '-' : '+').append('"');
                replaced = true;
                break;
            case Range::tooSmall:
                out.append('0');
                break;
            }
            i = end;
        } else {
            out.append(c);
            ++i;
        }
    }
    return out;
}

QJsonValue restored(const QJsonValue &value, const QString &marker);

QJsonArray restored(const QJsonArray &array, const QString &marker)
{
    QJsonArray out;
    for (const QJsonValue &element : array)
        out.append(restored(element, marker));
    return out;
}

QJsonObject restored(const QJsonObject &object, const QString &marker)
{
    QJsonObject out;
    for (auto it = object.begin(); it != object.end(); ++it)
        out.insert(it.key(), restored(it.value(), marker));
    return out;
}

// The markers back as infinite numbers (Qt's parser keeps its nesting within a thousand levels).
QJsonValue restored(const QJsonValue &value, const QString &marker)
{
    switch (value.type()) {
    case QJsonValue::String: {
        const QString text = value.toString();
        if (text.size() != marker.size() + 1 || !text.startsWith(marker))
            return value;
        const double infinity = std::numeric_limits<double>::infinity();
        return QJsonValue(text.back() == QLatin1Char('-') ? -infinity : infinity);
    }
    case QJsonValue::Array:
        return restored(value.toArray(), marker);
    case QJsonValue::Object:
        return restored(value.toObject(), marker);
    default:
        return value;
    }
}

} // namespace

QJsonDocument JsonReader::read(const QByteArray &json, QJsonParseError *error)
{
    QJsonParseError first;
    QJsonDocument document = QJsonDocument::fromJson(json, &first);
    if (error)
        *error = first;
    if (first.error != QJsonParseError::IllegalNumber)
        return document;

    // A marker no document can know in advance, so no string of the document can pose as one.
    const QByteArray marker = "\\u0000number-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    bool replaced = false;
    const QByteArray mended = withNumbersInRange(json, marker, replaced);
    QJsonParseError second;
    document = QJsonDocument::fromJson(mended, &second);
    if (second.error != QJsonParseError::NoError)
        return {}; // another fault: the error of the document as sent stands
    if (error)
        *error = second;
    if (!replaced)
        return document;
    const QString decodedMarker = QChar(u'\0') + QString::fromLatin1(marker.mid(6));
    if (document.isArray())
        return QJsonDocument(restored(document.array(), decodedMarker));
    return QJsonDocument(restored(document.object(), decodedMarker));
}

} // namespace vorlik::service
