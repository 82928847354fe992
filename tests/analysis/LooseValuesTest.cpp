// The tolerant values: every JSON type in every place, the limits of 64-bit integers, numeric
// strings with blanks, and the display text of tag values.
#include "analysis/KeyedObject.h"
#include "analysis/LooseValues.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

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

struct DoubleCase {
    const char *json;
    std::optional<double> expected;
};

class LooseDoubleTable : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(LooseDoubleTable, Decodes)
{
    const DoubleCase &c = GetParam();
    EXPECT_EQ(LooseDouble::fromJSON(jsonValue(c.json)).value, c.expected) << c.json;
}

INSTANTIATE_TEST_SUITE_P(
    Values, LooseDoubleTable,
    ::testing::Values(DoubleCase{"320000", 320000.0}, DoubleCase{"0.5", 0.5}, DoubleCase{"-3.25e2", -325.0},
                      DoubleCase{"9223372036854775807", 9223372036854775807.0}, DoubleCase{"1e30", 1e30},
                      DoubleCase{"\"320000\"", 320000.0}, DoubleCase{"\"  44100\t \"", 44100.0},
                      DoubleCase{"\"-1.5e3\"", -1500.0}, DoubleCase{"\"+2.5\"", 2.5}, DoubleCase{"\".5\"", 0.5},
                      DoubleCase{"\"0x10\"", 16.0}, DoubleCase{"\"1,5\"", std::nullopt},
                      DoubleCase{"\"abc\"", std::nullopt}, DoubleCase{"\"inf\"", std::nullopt},
                      DoubleCase{"\"-Infinity\"", std::nullopt}, DoubleCase{"\"nan\"", std::nullopt},
                      DoubleCase{"\"NaN(123)\"", std::nullopt}, DoubleCase{"\"1e400\"", std::nullopt},
                      DoubleCase{"\"\"", std::nullopt}, DoubleCase{"\" \"", std::nullopt},
                      DoubleCase{"\"\\n5\"", std::nullopt}, DoubleCase{"\"5\\n\"", std::nullopt},
                      DoubleCase{"\"5 5\"", std::nullopt}, DoubleCase{"\"5\\u00005\"", std::nullopt},
                      DoubleCase{"true", std::nullopt}, DoubleCase{"false", std::nullopt},
                      DoubleCase{"null", std::nullopt}, DoubleCase{"{\"a\":1}", std::nullopt},
                      DoubleCase{"[1]", std::nullopt}));

struct IntCase {
    const char *json;
    std::optional<qint64> expected;
};

class LooseIntTable : public ::testing::TestWithParam<IntCase> {};

TEST_P(LooseIntTable, Decodes)
{
    const IntCase &c = GetParam();
    EXPECT_EQ(LooseInt::fromJSON(jsonValue(c.json)).value, c.expected) << c.json;
}

INSTANTIATE_TEST_SUITE_P(
    Values, LooseIntTable,
    ::testing::Values(IntCase{"2", 2}, IntCase{"2.0", 2}, IntCase{"-0", 0}, IntCase{"1e2", 100},
                      IntCase{"2.5", std::nullopt}, IntCase{"1e30", std::nullopt},
                      IntCase{"-1e30", std::nullopt},
                      IntCase{"9223372036854775807", std::numeric_limits<qint64>::max()},
                      IntCase{"-9223372036854775808", std::numeric_limits<qint64>::min()},
                      IntCase{"9223372036854775808", std::nullopt}, IntCase{"1e19", std::nullopt},
                      IntCase{"\"+7\"", 7}, IntCase{"\"-7\"", -7}, IntCase{"\" \t42 \"", 42},
                      IntCase{"\"007\"", 7}, IntCase{"\"7.0\"", std::nullopt}, IntCase{"\"7e0\"", std::nullopt},
                      IntCase{"\"\"", std::nullopt}, IntCase{"\"  \"", std::nullopt},
                      IntCase{"\"+\"", std::nullopt}, IntCase{"\"+-7\"", std::nullopt},
                      IntCase{"\"--7\"", std::nullopt}, IntCase{"\"7 7\"", std::nullopt},
                      IntCase{"\"0x10\"", std::nullopt}, IntCase{"\"\\u0667\"", std::nullopt},
                      IntCase{"\"9223372036854775807\"", std::numeric_limits<qint64>::max()},
                      IntCase{"\"-9223372036854775808\"", std::numeric_limits<qint64>::min()},
                      IntCase{"\"9223372036854775808\"", std::nullopt},
                      IntCase{"\"99999999999999999999999\"", std::nullopt}, IntCase{"true", std::nullopt},
                      IntCase{"null", std::nullopt}, IntCase{"[]", std::nullopt}, IntCase{"{}", std::nullopt}));

struct DisplayCase {
    const char *json;
    const char *expected;
};

class AnyDecodableTable : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(AnyDecodableTable, DisplayText)
{
    const DisplayCase &c = GetParam();
    EXPECT_EQ(AnyDecodable::fromJSON(jsonValue(c.json)).displayString, QString::fromUtf8(c.expected)) << c.json;
}

INSTANTIATE_TEST_SUITE_P(
    Values, AnyDecodableTable,
    ::testing::Values(DisplayCase{"\"A\"", "A"}, DisplayCase{"\"\"", ""}, DisplayCase{"\"Ünïcødé\"", "Ünïcødé"},
                      DisplayCase{"3", "3"}, DisplayCase{"3.0", "3"}, DisplayCase{"-12", "-12"},
                      DisplayCase{"0.5", "0.5"}, DisplayCase{"0.1", "0.1"}, DisplayCase{"-2.75", "-2.75"},
                      DisplayCase{"1e-7", "1e-07"}, DisplayCase{"123456.789", "123456.789"},
                      // Plain notation from 0.0001 on, as the report's numbers, even where
                      // exponent notation would be shorter.
                      DisplayCase{"0.0001", "0.0001"}, DisplayCase{"-0.0003", "-0.0003"},
                      DisplayCase{"0.00001", "1e-05"}, DisplayCase{"1e-4", "0.0001"},
                      DisplayCase{"9223372036854775807", "9223372036854775807"},
                      DisplayCase{"1e20", "1e+20"}, DisplayCase{"true", "true"}, DisplayCase{"false", "false"},
                      DisplayCase{"null", ""}, DisplayCase{"{\"a\":1}", ""}, DisplayCase{"[1,2]", ""}));

// Members of any type become display text, names are kept as sent; anything but an object is
// an empty map.
TEST(LooseTags, MembersBecomeDisplayTextUnderTheirOwnNames)
{
    const struct {
        const char *json;
        QMap<QString, QString> values;
    } cases[] = {
        {R"({"title":"A","track":3,"gain":0.5,"live":false,"x":null,"y":[1,2],"z":{"deep":1}})",
         {{"title", "A"}, {"track", "3"}, {"gain", "0.5"}, {"live", "false"}, {"x", ""}, {"y", ""}, {"z", ""}}},
        {R"({"album_artist":"B","encoder":"Lavf60","":"empty"})", {{"album_artist", "B"}, {"encoder", "Lavf60"}, {"", "empty"}}},
        {"[\"a\",\"b\"]", {}}, {"3", {}}, {"\"title\"", {}}, {"true", {}}, {"{}", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LooseTags::fromJSON(jsonValue(c.json)).values, c.values) << c.json;
}

TEST(LooseValues, CompareByValue)
{
    EXPECT_EQ(LooseInt{7}, LooseInt::fromJSON(jsonValue("\"7\"")));
    EXPECT_NE(LooseInt{7}, LooseInt{});
    EXPECT_EQ(LooseDouble{0.5}, LooseDouble::fromJSON(jsonValue("\"0.5\"")));
    EXPECT_NE(LooseDouble{0.5}, LooseDouble{0.25});
    LooseTags a = LooseTags::fromJSON(jsonValue(R"({"k":"v"})"));
    LooseTags b = LooseTags::fromJSON(jsonValue(R"({"k":"v"})"));
    EXPECT_EQ(a, b);
    b.values.insert("k", "w");
    EXPECT_NE(a, b);
}

TEST(ShortestRoundTripText, ReadsBackExactly)
{
    const double samples[] = {0.1, 1.0 / 3.0, -23.456789012345678, 5e-324, 1.7976931348623157e308,
                              44100.0, 0.30000000000000004, 1e21, -0.0};
    for (double sample : samples) {
        const QByteArray text = shortestRoundTripText(sample).toLatin1();
        double back = 0;
        const auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), back);
        ASSERT_EQ(error, std::errc()) << text.constData();
        EXPECT_EQ(end, text.constData() + text.size());
        EXPECT_EQ(back, sample) << text.constData();
        EXPECT_EQ(std::signbit(back), std::signbit(sample)) << text.constData();
    }
    EXPECT_EQ(shortestRoundTripText(0.1), QStringLiteral("0.1"));
    EXPECT_EQ(shortestRoundTripText(0.30000000000000004), QStringLiteral("0.30000000000000004"));
}

struct KeyCase {
    const char *wire;
    const char *converted;
};

class SnakeCaseTable : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SnakeCaseTable, Converts)
{
    const KeyCase &c = GetParam();
    EXPECT_EQ(KeyedObject::convertFromSnakeCase(QString::fromUtf8(c.wire)), QString::fromUtf8(c.converted));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SnakeCaseTable,
    ::testing::Values(KeyCase{"bits_per_raw_sample", "bitsPerRawSample"}, KeyCase{"bitRateBps", "bitRateBps"},
                      KeyCase{"status", "status"}, KeyCase{"lra_lu", "lraLu"}, KeyCase{"_id", "_id"},
                      KeyCase{"id_", "id_"}, KeyCase{"__bit_rate__", "__bitRate__"}, KeyCase{"a__b", "aB"},
                      KeyCase{"a___b_c", "aBC"}, KeyCase{"_", "_"}, KeyCase{"___", "___"}, KeyCase{"", ""},
                      KeyCase{"a_1b", "a1b"}, KeyCase{"Bit_RATE", "BitRATE"}, KeyCase{"x_é", "xÉ"},
                      KeyCase{"max_short_term_lufs", "maxShortTermLufs"}));

} // namespace
