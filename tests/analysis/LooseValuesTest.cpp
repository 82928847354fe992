// The tolerant values: every JSON type in every place, the limits of 64-bit integers, numeric
// strings with blanks, and the display text of tag values.
#include "analysis/KeyedObject.h"
#include "analysis/LooseValues.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

using namespace vorlik::analysis;

namespace {

// One JSON value, parsed the way a report member is (inside a document).
QJsonValue jsonValue(const char *literal)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + literal + "]", &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << literal;
    return document.array().at(0);
}

constexpr std::nullopt_t none = std::nullopt;

TEST(LooseValues, NumbersAndNumericTextDecodeAndEverythingElseIsEmpty)
{
    const std::pair<const char *, std::optional<double>> doubles[] = {
        {"320000", 320000.0}, {"0.5", 0.5}, {"-3.25e2", -325.0}, {"9223372036854775807", 9223372036854775807.0},
        {"1e30", 1e30}, {"\"320000\"", 320000.0}, {"\"  44100\t \"", 44100.0}, {"\"-1.5e3\"", -1500.0},
        {"\"+2.5\"", 2.5}, {"\".5\"", 0.5}, {"\"0x10\"", 16.0}, {"\"1,5\"", none}, {"\"abc\"", none}, {"\"inf\"", none},
        {"\"-Infinity\"", none}, {"\"nan\"", none}, {"\"NaN(123)\"", none}, {"\"1e400\"", none}, {"\"\"", none},
        {"\" \"", none}, {"\"\\n5\"", none}, {"\"5\\n\"", none}, {"\"5 5\"", none}, {"\"5\\u00005\"", none},
        {"true", none}, {"false", none}, {"null", none}, {"{\"a\":1}", none}, {"[1]", none}};
    for (const auto &[json, expected] : doubles)
        EXPECT_EQ(LooseDouble::fromJSON(jsonValue(json)).value, expected) << json;

    constexpr qint64 max = std::numeric_limits<qint64>::max(), min = std::numeric_limits<qint64>::min();
    const std::pair<const char *, std::optional<qint64>> ints[] = {
        {"2", 2}, {"2.0", 2}, {"-0", 0}, {"1e2", 100}, {"2.5", none}, {"1e30", none}, {"-1e30", none},
        {"9223372036854775807", max}, {"-9223372036854775808", min}, {"9223372036854775808", none}, {"1e19", none},
        {"\"+7\"", 7}, {"\"-7\"", -7}, {"\" \t42 \"", 42}, {"\"007\"", 7}, {"\"7.0\"", none}, {"\"7e0\"", none},
        {"\"\"", none}, {"\"  \"", none}, {"\"+\"", none}, {"\"+-7\"", none}, {"\"--7\"", none}, {"\"7 7\"", none},
        {"\"0x10\"", none}, {"\"\\u0667\"", none}, {"\"9223372036854775807\"", max}, {"\"-9223372036854775808\"", min},
        {"\"9223372036854775808\"", none}, {"\"99999999999999999999999\"", none}, {"true", none}, {"null", none},
        {"[]", none}, {"{}", none}};
    for (const auto &[json, expected] : ints)
        EXPECT_EQ(LooseInt::fromJSON(jsonValue(json)).value, expected) << json;
}

TEST(LooseValues, AnyValueHasADisplayText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"\"A\"", "A"}, {"\"\"", ""}, {"\"Ünïcødé\"", "Ünïcødé"}, {"3", "3"}, {"3.0", "3"}, {"-12", "-12"},
        {"0.1", "0.1"}, {"-2.75", "-2.75"}, {"1e-7", "1e-07"}, {"123456.789", "123456.789"},
        // Plain notation from 0.0001 on, as the report's numbers, even where exponent notation
        // would be shorter.
        {"0.0001", "0.0001"}, {"-0.0003", "-0.0003"}, {"0.00001", "1e-05"}, {"1e-4", "0.0001"},
        {"9223372036854775807", "9223372036854775807"}, {"1e20", "1e+20"}, {"true", "true"}, {"false", "false"},
        {"null", ""}, {"{\"a\":1}", ""}, {"[1,2]", ""}};
    for (const auto &[json, text] : cases)
        EXPECT_EQ(AnyDecodable::fromJSON(jsonValue(json)).displayString, QString::fromUtf8(text)) << json;

    // Tags: members of any type become display text under their names as sent; anything but an
    // object is an empty map.
    const std::pair<const char *, QMap<QString, QString>> tags[] = {
        {R"({"title":"A","track":3,"gain":0.5,"live":false,"x":null,"y":[1,2],"z":{"deep":1},"":"empty"})",
         {{"title", "A"}, {"track", "3"}, {"gain", "0.5"}, {"live", "false"}, {"x", ""}, {"y", ""}, {"z", ""}, {"", "empty"}}},
        {"[\"a\",\"b\"]", {}}, {"3", {}}, {"\"title\"", {}}, {"true", {}}, {"{}", {}}};
    for (const auto &[json, values] : tags)
        EXPECT_EQ(LooseTags::fromJSON(jsonValue(json)).values, values) << json;
}

TEST(LooseValues, ShortestRoundTripTextReadsBackExactly)
{
    for (double sample : {0.1, 1.0 / 3.0, -23.456789012345678, 5e-324, 1.7976931348623157e308, 44100.0,
                          0.30000000000000004, 1e21, -0.0}) {
        const QByteArray text = shortestRoundTripText(sample).toLatin1();
        double back = 0;
        const auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), back);
        ASSERT_EQ(error, std::errc()) << text.constData();
        EXPECT_EQ(end, text.constData() + text.size());
        EXPECT_EQ(back, sample) << text.constData();
        EXPECT_EQ(std::signbit(back), std::signbit(sample)) << text.constData();
    }
    EXPECT_EQ(shortestRoundTripText(0.30000000000000004), QStringLiteral("0.30000000000000004"));
}

TEST(KeyedObject, SnakeCaseKeysConvert)
{
    const std::pair<const char *, const char *> cases[] = {
        {"bits_per_raw_sample", "bitsPerRawSample"}, {"bitRateBps", "bitRateBps"}, {"_id", "_id"}, {"id_", "id_"},
        {"__bit_rate__", "__bitRate__"}, {"a__b", "aB"}, {"a___b_c", "aBC"}, {"_", "_"}, {"___", "___"}, {"", ""},
        {"a_1b", "a1b"}, {"Bit_RATE", "BitRATE"}, {"x_é", "xÉ"}};
    for (const auto &[wire, converted] : cases)
        EXPECT_EQ(KeyedObject::convertFromSnakeCase(QString::fromUtf8(wire)), QString::fromUtf8(converted));
}

} // namespace
