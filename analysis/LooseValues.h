#pragma once
// The tolerant values of the analysis report. The service fills these from ffprobe output,
// where numbers arrive as numbers, numeric strings or odd mixtures; decoding them never fails,
// and anything unusable becomes "no value". Each is decoded from the single JSON value in its place.
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>

namespace vorlik::analysis {

struct LooseDouble {
    std::optional<double> value;

    // A finite number; else a string (spaces and tabs trimmed) in decimal, exponent or hex
    // notation that parses to a finite number; else no value.
    static LooseDouble fromJSON(const QJsonValue &json);
    bool operator==(const LooseDouble &) const = default;
};

struct LooseInt {
    std::optional<qint64> value;

    // A whole number in the signed 64-bit range (2.0 counts; 2.5 and 1e30 do not); else a string
    // (spaces and tabs trimmed) of base-10 digits with at most one leading sign that fits; else
    // no value. A string is never read as a float ("7.0" gives no value).
    static LooseInt fromJSON(const QJsonValue &json);
    bool operator==(const LooseInt &) const = default;
};

// Any JSON value as display text: a string itself; a whole number without a decimal point;
// another finite number in its shortest round-trip form; "true"/"false"; anything else "".
struct AnyDecodable {
    QString displayString;

    static AnyDecodable fromJSON(const QJsonValue &json);
    bool operator==(const AnyDecodable &) const = default;
};

struct LooseTags {
    QMap<QString, QString> values; // tag names exactly as sent

    // An object maps each member to its display text; any other value gives an empty map.
    static LooseTags fromJSON(const QJsonValue &json);
    bool operator==(const LooseTags &) const = default;
};

// The shortest decimal text that reads back as exactly `number`, the one rule for numbers shown
// in a report: plain notation from 0.0001 up to 2^54, always with a fraction ("0.0001", "7.0",
// "0.25"), exponent notation outside ("1e-05", "1e+20").
QString shortestRoundTripText(double number);

} // namespace vorlik::analysis
