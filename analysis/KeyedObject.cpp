#include "analysis/KeyedObject.h"

#include <cmath>

namespace vorlik::analysis {

QString KeyedObject::convertFromSnakeCase(const QString &key)
{
    qsizetype first = 0;
    while (first < key.size() && key.at(first) == QLatin1Char('_'))
        ++first;
    if (first == key.size())
        return key; // empty, or underscores only
    qsizetype last = key.size() - 1;
    while (key.at(last) == QLatin1Char('_'))
        --last;
    if (!key.mid(first, last - first + 1).contains(QLatin1Char('_')))
        return key;

    QString converted = key.left(first);
    converted.reserve(key.size());
    bool upperNext = false;
    for (qsizetype i = first; i <= last; ++i) {
        const QChar c = key.at(i);
        if (c == QLatin1Char('_')) {
            upperNext = true;
            continue;
        }
        converted += upperNext ? c.toUpper() : c;
        upperNext = false;
    }
    converted += key.mid(last + 1);
    return converted;
}

KeyedObject::KeyedObject(const QJsonObject &object, QString path) : m_path(std::move(path))
{
    m_members.reserve(object.size());
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString field = convertFromSnakeCase(it.key());
        if (!m_members.contains(field))
            m_members.insert(field, Member{it.key(), it.value()});
    }
}

KeyedObject KeyedObject::at(const QJsonValue &value, const QString &path)
{
    if (!value.isObject())
        typeMismatch(value, path, "an object");
    return KeyedObject(value.toObject(), path);
}

QJsonValue KeyedObject::member(const QString &field) const
{
    const auto found = m_members.constFind(field);
    return found == m_members.cend() ? QJsonValue(QJsonValue::Undefined) : found->value;
}

std::optional<QString> KeyedObject::text(const QString &field) const
{
    const QJsonValue value = member(field);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        typeMismatch(value, pathOf(field), "a string");
    return value.toString();
}

std::optional<double> KeyedObject::number(const QString &field) const
{
    const QJsonValue value = member(field);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isDouble())
        typeMismatch(value, pathOf(field), "a number");
    const double number = value.toDouble();
    // What the document held was a number too large for any double (see JsonReader).
    if (std::isinf(number))
        throw service::DecodingError(QStringLiteral("dataCorrupted: \"%1\" is a number beyond the range of a 64-bit float")
                                         .arg(pathOf(field)));
    return number;
}

QString KeyedObject::pathOf(const QString &field) const
{
    const auto found = m_members.constFind(field);
    const QString name = found == m_members.cend() ? field : found->wireName;
    return m_path.isEmpty() ? name : m_path + QLatin1Char('.') + name;
}

void KeyedObject::typeMismatch(const QJsonValue &value, const QString &path, const char *expected)
{
    const QString where = path.isEmpty() ? QStringLiteral("the top level") : QLatin1Char('"') + path + QLatin1Char('"');
    throw service::DecodingError(QStringLiteral("typeMismatch: %1 is %2, expected %3")
                                     .arg(where, service::json::typeName(value), QLatin1String(expected)));
}

} // namespace vorlik::analysis
