#include "update/Manifest.h"

#include "service/JsonFields.h"
#include "service/JsonReader.h"
#include "update/UnreadableDataError.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace vorlik::update {
namespace {

// The document's members under their converted names.
class Members {
public:
    explicit Members(const QJsonObject &object)
    {
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            m_values.insert(Manifest::convertFromSnakeCase(it.key()), it.value());
    }

    QString string(const QString &key) const
    {
        const QJsonValue value = m_values.value(key);
        if (value.isUndefined() || value.isNull())
            throw UnreadableDataError::missing(key);
        if (!value.isString())
            throw UnreadableDataError::wrongFormat(QStringLiteral("\"") + key + QStringLiteral("\" is ") + service::json::typeName(value)
                                                   + QStringLiteral(", not a string"));
        return value.toString();
    }

    std::optional<QString> optionalString(const QString &key) const
    {
        const QJsonValue value = m_values.value(key);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return string(key);
    }

    qint64 integer(const QString &key) const
    {
        const QJsonValue value = m_values.value(key);
        if (value.isUndefined() || value.isNull())
            throw UnreadableDataError::missing(key);
        const double number = value.toDouble();
        if (!value.isDouble() || !std::isfinite(number) || std::floor(number) != number || std::fabs(number) > 9.2e18)
            throw UnreadableDataError::wrongFormat(QStringLiteral("\"") + key + QStringLiteral("\" is ") + service::json::typeName(value)
                                                   + QStringLiteral(", not a whole number"));
        return value.toInteger(qint64(number));
    }

private:
    QHash<QString, QJsonValue> m_values;
};

} // namespace

QString Manifest::convertFromSnakeCase(const QString &key)
{
    qsizetype first = 0;
    while (first < key.size() && key.at(first) == u'_')
        ++first;
    if (first == key.size())
        return key; // empty, or underscores only
    qsizetype last = key.size() - 1;
    while (last > first && key.at(last) == u'_')
        --last;
    const QString core = key.mid(first, last - first + 1);
    const QStringList words = core.split(u'_', Qt::SkipEmptyParts);
    if (words.size() == 1)
        return key; // perhaps camel case already: left as written
    QString joined = words.first().toLower();
    for (qsizetype i = 1; i < words.size(); ++i)
        joined += words.at(i).left(1).toUpper() + words.at(i).mid(1).toLower();
    return key.left(first) + joined + key.mid(last + 1);
}

Manifest Manifest::fromJSON(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = service::JsonReader::read(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw UnreadableDataError::wrongFormat(QStringLiteral("not JSON: ") + parseError.errorString());
    if (!document.isObject())
        throw UnreadableDataError::wrongFormat(QStringLiteral("not a JSON object"));

    const Members members(document.object());
    Manifest manifest;
    manifest.version = members.string(QStringLiteral("version"));
    manifest.build = members.integer(QStringLiteral("build"));
    manifest.dmg = members.string(QStringLiteral("dmg"));
    manifest.sha256 = members.string(QStringLiteral("sha256"));
    manifest.notes = members.optionalString(QStringLiteral("notes"));
    manifest.minMacos = members.optionalString(QStringLiteral("minMacos"));
    return manifest;
}

QByteArray Manifest::toJSON() const
{
    QJsonObject object{{QStringLiteral("version"), version},
                       {QStringLiteral("build"), build},
                       {QStringLiteral("dmg"), dmg},
                       {QStringLiteral("sha256"), sha256}};
    if (notes)
        object.insert(QStringLiteral("notes"), *notes);
    if (minMacos)
        object.insert(QStringLiteral("min_macos"), *minMacos);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace vorlik::update
