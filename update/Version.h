#pragma once
// A release version: three whole numbers compared in order. Texts of one to three dotted
// pieces parse ("2" is 2.0.0, "1.2" is 1.2.0, "01.002.0024" is 1.2.24); anything else does not.
#include <QString>

#include <compare>
#include <optional>

namespace vorlik::update {

struct Version {
    qint64 major = 0;
    qint64 minor = 0;
    qint64 patch = 0;

    // No value for: more than three pieces, an empty piece, a piece that is not a decimal
    // whole number, a negative one or one written with "-" ("-0"). A leading "+" is accepted.
    static std::optional<Version> parse(const QString &text);

    friend auto operator<=>(const Version &, const Version &) = default;
    friend bool operator==(const Version &, const Version &) = default;
};

} // namespace vorlik::update
