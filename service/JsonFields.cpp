#include "service/JsonFields.h"

#include "service/JsonReader.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <QVariant>

#include <cmath>

namespace vorlik::service::json {
namespace {

QString quotedPath(const QString &path)
{
    return path.isEmpty() ? QStringLiteral("the top level") : QLatin1Char('"') + path + QLatin1Char('"');
}

[[noreturn]] void typeMismatch(const QJsonValue &value, const QString &path, const char *expected)
{
    throw DecodingError(QStringLiteral("typeMismatch: %1 is %2, expected %3")
                            .arg(quotedPath(path), typeName(value), QLatin1String(expected)));
}

QString numberText(double number)
{
    return QString::number(number, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
    }
    return QStringLiteral("missing");
}

QJsonObject parseObject(const QByteArray &bytes)
{
    if (bytes.trimmed().isEmpty())
        throw DecodingError(QStringLiteral("dataCorrupted: the data is empty, expected a JSON object"));
    QJsonParseError error;
    const QJsonDocument document = JsonReader::read(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt only accepts an object or an array at the top; tell a valid scalar document apart
        // from broken JSON by reading it as an array element.
        const char first = bytes.trimmed().front();
        if (first != '{' && first != '[') {
            QJsonParseError wrappedError;
            const QJsonDocument wrapped = QJsonDocument::fromJson('[' + bytes + ']', &wrappedError);
            if (wrappedError.error == QJsonParseError::NoError && wrapped.array().size() == 1)
                throw DecodingError(QStringLiteral("typeMismatch: the top level is %1, expected an object")
                                        .arg(typeName(wrapped.array().at(0))));
        }
        throw DecodingError(QStringLiteral("dataCorrupted: the data is not valid JSON (%1 at offset %2)")
                                .arg(error.errorString())
                                .arg(error.offset));
    }
    if (document.isArray())
        throw DecodingError(QStringLiteral("typeMismatch: the top level is an array, expected an object"));
    if (!document.isObject())
        throw DecodingError(QStringLiteral("typeMismatch: the top level is not an object"));
    return document.object();
}

qint64 integerValue(const QJsonValue &value, const QString &path)
{
    if (value.type() != QJsonValue::Double)
        typeMismatch(value, path, "an integer");
    // Integer literals that fit are stored exactly; everything else arrives as a double.
    const QVariant stored = value.toVariant();
    if (stored.typeId() == QMetaType::LongLong)
        return stored.toLongLong();
    const double number = value.toDouble();
    if (std::isinf(number))
        throw DecodingError(QStringLiteral("dataCorrupted: %1 is a number beyond the range of a 64-bit float")
                                .arg(quotedPath(path)));
    if (!std::isfinite(number) || std::trunc(number) != number)
        throw DecodingError(QStringLiteral("dataCorrupted: %1 is %2, which is not an integer")
                                .arg(quotedPath(path), numberText(number)));
    // 2^63 is exact as a double; the valid range is [-2^63, 2^63).
    constexpr double limit = 9223372036854775808.0;
    if (number < -limit || number >= limit)
        throw DecodingError(QStringLiteral("dataCorrupted: %1 is %2, which does not fit a signed 64-bit integer")
                                .arg(quotedPath(path), numberText(number)));
    return static_cast<qint64>(number);
}

ObjectReader objectAt(const QJsonValue &value, const QString &path)
{
    if (value.isUndefined())
        throw DecodingError(QStringLiteral("keyNotFound: no value for %1").arg(quotedPath(path)));
    if (!value.isObject())
        typeMismatch(value, path, "an object");
    return ObjectReader(value.toObject(), path);
}

ObjectReader::ObjectReader(QJsonObject object, QString path) : m_object(std::move(object)), m_path(std::move(path)) {}

QString ObjectReader::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key;
}

QJsonValue ObjectReader::required(const QString &key, const char *expected) const
{
    const auto found = m_object.constFind(key);
    if (found == m_object.constEnd())
        throw DecodingError(QStringLiteral("keyNotFound: no value for key \"%1\"").arg(pathOf(key)));
    const QJsonValue value = *found;
    if (value.isNull())
        throw DecodingError(QStringLiteral("valueNotFound: \"%1\" is null, expected %2")
                                .arg(pathOf(key), QLatin1String(expected)));
    return value;
}

QString ObjectReader::string(const QString &key) const
{
    const QJsonValue value = required(key, "a string");
    if (!value.isString())
        typeMismatch(value, pathOf(key), "a string");
    return value.toString();
}

std::optional<QString> ObjectReader::optionalString(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        typeMismatch(value, pathOf(key), "a string");
    return value.toString();
}

qint64 ObjectReader::integer(const QString &key) const
{
    return integerValue(required(key, "an integer"), pathOf(key));
}

std::optional<qint64> ObjectReader::optionalInteger(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return integerValue(value, pathOf(key));
}

double ObjectReader::number(const QString &key) const
{
    const QJsonValue value = required(key, "a number");
    if (value.type() != QJsonValue::Double)
        typeMismatch(value, pathOf(key), "a number");
    return value.toDouble();
}

std::optional<QJsonValue> ObjectReader::optionalValue(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return value;
}

QJsonArray ObjectReader::array(const QString &key) const
{
    const QJsonValue value = required(key, "an array");
    if (!value.isArray())
        typeMismatch(value, pathOf(key), "an array");
    return value.toArray();
}

namespace {

bool hasUnpairedSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return true;
    }
    return false;
}

// A decoded "\ud83c" without its partner is a lone surrogate, which has no UTF-8 form: written
// as UTF-8 it would turn into a replacement character. Such text is written with every
// character outside ASCII as a \u escape, which keeps it exactly.
QByteArray quotedEscapingAll(const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray out("\"");
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit >= 0x20 && unit < 0x7f && unit != u'"' && unit != u'\\') {
            out.append(char(unit));
            continue;
        }
        out.append("\\u");
        out.append(hex[(unit >> 12) & 0xf]);
        out.append(hex[(unit >> 8) & 0xf]);
        out.append(hex[(unit >> 4) & 0xf]);
        out.append(hex[unit & 0xf]);
    }
    out.append('"');
    return out;
}

} // namespace

QByteArray quoted(const QString &text)
{
    if (hasUnpairedSurrogate(text))
        return quotedEscapingAll(text);
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out.append('"');
    static const char hex[] = "0123456789abcdef";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (byte < 0x20) {
                out.append("\\u00");
                out.append(hex[byte >> 4]);
                out.append(hex[byte & 0xf]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
    return out;
}

void ObjectWriter::key(const QString &name)
{
    m_bytes.append(m_bytes.isEmpty() ? '{' : ',');
    m_bytes.append(quoted(name));
    m_bytes.append(':');
}

ObjectWriter &ObjectWriter::string(const QString &name, const QString &value)
{
    key(name);
    m_bytes.append(quoted(value));
    return *this;
}

ObjectWriter &ObjectWriter::optionalString(const QString &name, const std::optional<QString> &value)
{
    if (value)
        string(name, *value);
    return *this;
}

ObjectWriter &ObjectWriter::integer(const QString &name, qint64 value)
{
    key(name);
    m_bytes.append(QByteArray::number(value));
    return *this;
}

ObjectWriter &ObjectWriter::optionalInteger(const QString &name, const std::optional<qint64> &value)
{
    if (value)
        integer(name, *value);
    return *this;
}

ObjectWriter &ObjectWriter::number(const QString &name, double value)
{
    key(name);
    m_bytes.append(numberText(value).toLatin1());
    return *this;
}

ObjectWriter &ObjectWriter::raw(const QString &name, const QByteArray &json)
{
    key(name);
    m_bytes.append(json);
    return *this;
}

QByteArray ObjectWriter::finish() const
{
    return m_bytes.isEmpty() ? QByteArrayLiteral("{}") : m_bytes + '}';
}

} // namespace vorlik::service::json
