// Decoding the update description: snake-case keys, types, the platform's texts for bad data.
#include "update/Manifest.h"
#include "update/UnreadableDataError.h"

#include <gtest/gtest.h>

#include <QList>

using vorlik::update::Manifest;
using vorlik::update::UnreadableDataError;

namespace {

const QByteArray complete = R"({"version":"1.2.25","build":28,"dmg":"https://vorlik.app/d/v.tar.gz",
    "sha256":"ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789","notes":"Faster.",
    "min_macos":"13.0","channel":"stable"})";

QString failureOf(const QByteArray &json)
{
    try {
        Manifest::fromJSON(json);
    } catch (const UnreadableDataError &error) {
        return error.description();
    }
    return QStringLiteral("(decoded)");
}

TEST(ManifestDecoding, ReadsEveryMemberAndIgnoresUnknownOnes)
{
    const Manifest manifest = Manifest::fromJSON(complete);
    EXPECT_EQ(manifest.version, QStringLiteral("1.2.25"));
    EXPECT_EQ(manifest.build, 28);
    EXPECT_EQ(manifest.dmg, QStringLiteral("https://vorlik.app/d/v.tar.gz"));
    EXPECT_EQ(manifest.sha256, QStringLiteral("ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789"));
    EXPECT_EQ(manifest.notes, QStringLiteral("Faster."));
    EXPECT_EQ(manifest.minMacos, QStringLiteral("13.0"));
    EXPECT_EQ(Manifest::fromJSON(manifest.toJSON()), manifest);
}

TEST(ManifestDecoding, SnakeCaseConversionTable)
{
    const QList<std::pair<QString, QString>> table{
        {"min_macos", "minMacos"}, {"minMacos", "minMacos"}, {"MIN_MACOS", "minMacos"},
        {"version", "version"},    {"_min_macos_", "_minMacos_"}, {"a__b", "aB"},
        {"___", "___"},            {"", ""},                    {"sha256", "sha256"}};
    for (const auto &[key, converted] : table)
        EXPECT_EQ(Manifest::convertFromSnakeCase(key), converted) << key.toStdString();
    // Decoding matches keys after that conversion; absent and null optionals are absent.
    EXPECT_EQ(Manifest::fromJSON(R"({"version":"1","build":1,"dmg":"d","sha256":"s","MIN_MACOS":"11"})").minMacos,
              QStringLiteral("11"));
    const Manifest nulls = Manifest::fromJSON(R"({"version":"1","build":1,"dmg":"d","sha256":"s","notes":null})");
    EXPECT_EQ(nulls.notes, std::nullopt);
    EXPECT_EQ(nulls.minMacos, std::nullopt);
}

TEST(ManifestDecoding, BadDocumentsFailWithThePlatformsText)
{
    const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");
    const QString format = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    EXPECT_EQ(failureOf(R"({"build":1,"dmg":"d","sha256":"s"})"), missing);
    EXPECT_EQ(failureOf(R"({"version":null,"build":1,"dmg":"d","sha256":"s"})"), missing);
    EXPECT_EQ(failureOf(R"({"version":"1","dmg":"d","sha256":"s"})"), missing);
    EXPECT_EQ(failureOf(R"({"version":1.2,"build":1,"dmg":"d","sha256":"s"})"), format);
    EXPECT_EQ(failureOf(R"({"version":"1","build":"28","dmg":"d","sha256":"s"})"), format);
    EXPECT_EQ(failureOf(R"({"version":"1","build":1.5,"dmg":"d","sha256":"s"})"), format);
    EXPECT_EQ(failureOf(R"({"version":"1","build":1,"dmg":"d","sha256":"s","notes":7})"), format);
    EXPECT_EQ(failureOf(R"([1,2])"), format);
    EXPECT_EQ(failureOf(R"({"version":"1",)"), format);
    EXPECT_EQ(failureOf(""), format);
    EXPECT_EQ(failureOf(R"({"version":"1","build":1e999,"dmg":"d","sha256":"s"})"), format);
    EXPECT_EQ(failureOf(R"({"version":"1","build":1.0,"dmg":"d","sha256":"s"})"), QStringLiteral("(decoded)"));
    // A member nobody reads may hold a number no double can: the description still stands.
    EXPECT_EQ(failureOf(R"({"version":"1","build":1,"dmg":"d","sha256":"s","size":1e999})"), QStringLiteral("(decoded)"));
}

} // namespace
