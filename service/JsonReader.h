#pragma once
// JSON as the service's documents need it read. Qt's parser refuses a whole document when one
// number lies beyond the range of a double (1e309, a 400-digit integer) or rounds to zero below
// its smallest step (1e-400); here such a number keeps the rest of the document: a number too
// large becomes an infinite double of its sign (which no record accepts as a value: strict
// members fail on it, tolerant ones read it as "no value", members nobody reads ignore it), one
// too small becomes zero. Every other fault fails the document as Qt's parser does.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace vorlik::service {

struct JsonReader {
    // The document, or an empty one with `error` set (Qt's error for the document as sent).
    static QJsonDocument read(const QByteArray &json, QJsonParseError *error = nullptr);
};

} // namespace vorlik::service
