#pragma once
// Strict reading and ordered writing of the service's JSON records. Reading never guesses: a
// member that is missing, null or of the wrong type throws DecodingError naming its key path
// (for example "presets[2].max_channels"). Writing keeps the members in the order they are
// added, which QJsonObject (sorted keys) cannot.
#include "platform/Failure.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace vorlik::service {

// A record that could not be decoded; description() names the first problem met.
class DecodingError : public Failure {
public:
    using Failure::Failure;
};

namespace json {

// The body as one JSON object, or DecodingError (not JSON, not UTF-8, not an object, empty).
QJsonObject parseObject(const QByteArray &bytes);

// Typed member reads of one object; `path` is where the object sits ("" at the top level).
class ObjectReader {
public:
    explicit ObjectReader(QJsonObject object, QString path = {});

    QString string(const QString &key) const;
    std::optional<QString> optionalString(const QString &key) const;
    qint64 integer(const QString &key) const;
    std::optional<qint64> optionalInteger(const QString &key) const;
    double number(const QString &key) const;
    QJsonArray array(const QString &key) const;
    // The member when it is present and not null, for a nested record to read.
    std::optional<QJsonValue> optionalValue(const QString &key) const;

    // The key path of a member, e.g. "presets[2].hint".
    QString pathOf(const QString &key) const;

private:
    QJsonValue required(const QString &key, const char *expected) const;
    QJsonObject m_object;
    QString m_path;
};

// The element at `path` as an object reader, or DecodingError when it is not an object.
ObjectReader objectAt(const QJsonValue &value, const QString &path);

// A JSON number that is a whole number in the signed 64-bit range (1.0 passes; 1.5, 1e30 fail).
qint64 integerValue(const QJsonValue &value, const QString &path);

// "a string", "null", "an array", ... for error texts.
QString typeName(const QJsonValue &value);

// Writes one JSON object member by member, in call order, compact.
class ObjectWriter {
public:
    ObjectWriter &string(const QString &key, const QString &value);
    ObjectWriter &optionalString(const QString &key, const std::optional<QString> &value);
    ObjectWriter &integer(const QString &key, qint64 value);
    ObjectWriter &optionalInteger(const QString &key, const std::optional<qint64> &value);
    // The shortest text that reads back as the same double.
    ObjectWriter &number(const QString &key, double value);
    // `json` must already be valid JSON text (a nested record or array).
    ObjectWriter &raw(const QString &key, const QByteArray &json);
    QByteArray finish() const;

private:
    void key(const QString &name);
    QByteArray m_bytes;
};

// A JSON string literal (quotes included) for any text, escaping what JSON requires.
QByteArray quoted(const QString &text);

} // namespace json
} // namespace vorlik::service
