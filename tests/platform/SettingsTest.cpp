#include "platform/Settings.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

using vorlik::platform::Settings;

namespace {

struct BooleanCase {
    const char *text;
    std::optional<bool> expected;
};

class SettingsBooleans : public ::testing::TestWithParam<BooleanCase> {};

TEST_P(SettingsBooleans, CommandLineSpellings)
{
    QTemporaryDir folder;
    Settings settings(folder.filePath("s.conf"));
    settings.applyArguments({"vorlik", "-vorlikDiag", GetParam().text});
    const auto parsed = Settings::parseBoolean(settings.value("vorlikDiag"));
    EXPECT_EQ(parsed, GetParam().expected) << GetParam().text;
    EXPECT_EQ(settings.boolean("vorlikDiag", true), GetParam().expected.value_or(true));
}

INSTANTIATE_TEST_SUITE_P(All, SettingsBooleans,
                         ::testing::Values(BooleanCase{"YES", true}, BooleanCase{"yes", true}, BooleanCase{"true", true},
                                           BooleanCase{"1", true}, BooleanCase{"NO", false}, BooleanCase{"false", false},
                                           BooleanCase{"0", false}, BooleanCase{"maybe", std::nullopt},
                                           BooleanCase{"", std::nullopt}));

TEST(Settings, DefaultsWhenNothingStored)
{
    QTemporaryDir folder;
    Settings settings(folder.filePath("s.conf"));
    EXPECT_FALSE(settings.diagnosticsEnabled());
    EXPECT_EQ(settings.exportLocation(), "sameAsSource");
    EXPECT_EQ(settings.exportFolderPath(), "");
    EXPECT_FALSE(settings.autoStartConvert());
    EXPECT_FALSE(settings.baseURL().has_value());
}

TEST(Settings, OverridesWinForThisRunOnlyAndAreNeverStored)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("s.conf");
    {
        Settings settings(path);
        settings.setValue("baseURL", "https://stored.example");
        settings.applyArguments({"vorlik", "-baseURL", "http://127.0.0.1:1", "--not-a-setting", "x", "-dangling"});
        EXPECT_EQ(settings.baseURL().value(), "http://127.0.0.1:1");
        EXPECT_FALSE(settings.contains("-not-a-setting"));
        EXPECT_FALSE(settings.contains("dangling"));
    }
    Settings reopened(path);
    EXPECT_EQ(reopened.baseURL().value(), "https://stored.example");
}

TEST(Settings, WritesPersistAndSignal)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("s.conf");
    {
        Settings settings(path);
        QSignalSpy spy(&settings, &Settings::changed);
        settings.setValue("vorlikDiag", true);
        settings.setValue("lastUpdateCheckAttempt", QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
        settings.remove("exportFolderPath");
        ASSERT_EQ(spy.count(), 3);
        EXPECT_EQ(spy.at(0).at(0).toString(), "vorlikDiag");
    }
    Settings reopened(path);
    EXPECT_TRUE(reopened.diagnosticsEnabled());
    EXPECT_EQ(reopened.date("lastUpdateCheckAttempt")->toSecsSinceEpoch(), 1700000000);
}

} // namespace
