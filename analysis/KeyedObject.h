#pragma once
// One JSON object of the analysis documents, read under snake-case key conversion: every member
// name is converted (see convertFromSnakeCase) and then matched exactly against a field name.
// Reads are strict unless the field type is tolerant: a member of the wrong JSON type throws
// service::DecodingError naming its key path as sent ("analysis.audio_streams[0].codec_name").
// Absent and null members both read as "no value".
#include "service/JsonFields.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace vorlik::analysis {

class KeyedObject {
public:
    // Every underscore is removed and the character after it upper-cased; underscores before the
    // first and after the last other character are kept ("_id_" stays "_id_", "a__b" becomes
    // "aB"). Nothing else changes case, so "bitRateBps" matches itself.
    static QString convertFromSnakeCase(const QString &key);

    // When two members convert to the same name, the first in key order wins.
    KeyedObject(const QJsonObject &object, QString path);

    // The value at `path` as a keyed object, or DecodingError when it is not a JSON object.
    static KeyedObject at(const QJsonValue &value, const QString &path);

    // The raw member for a field name (Undefined when absent).
    QJsonValue member(const QString &field) const;

    std::optional<QString> text(const QString &field) const;
    std::optional<double> number(const QString &field) const;

    // A tolerant value: any JSON value but null is handed to Loose::fromJSON, which never fails.
    template <typename Loose>
    std::optional<Loose> loose(const QString &field) const
    {
        const QJsonValue value = member(field);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return Loose::fromJSON(value);
    }

    template <typename Record>
    std::optional<Record> record(const QString &field) const
    {
        const QJsonValue value = member(field);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return Record::decode(at(value, pathOf(field)));
    }

    // A JSON array of objects; an element that is not an object (null included) is an error.
    template <typename Record>
    std::optional<QList<Record>> list(const QString &field) const
    {
        const QJsonValue value = member(field);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        const QString path = pathOf(field);
        if (!value.isArray())
            typeMismatch(value, path, "an array");
        const QJsonArray elements = value.toArray();
        QList<Record> records;
        records.reserve(elements.size());
        for (qsizetype i = 0; i < elements.size(); ++i)
            records.append(Record::decode(at(elements.at(i), path + QLatin1Char('[') + QString::number(i) + QLatin1Char(']'))));
        return records;
    }

    // The key path of a field's member, spelled as the document spelled it.
    QString pathOf(const QString &field) const;

    [[noreturn]] static void typeMismatch(const QJsonValue &value, const QString &path, const char *expected);

private:
    struct Member {
        QString wireName;
        QJsonValue value;
    };
    QHash<QString, Member> m_members;
    QString m_path;
};

} // namespace vorlik::analysis
