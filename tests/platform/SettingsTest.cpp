#include "platform/Settings.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

using vorlik::platform::Settings;

TEST(Settings, DefaultsThenWritesThatPersistAndSignalAndOverridesInAnySpellingThatDoNot)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("s.conf");
    {
        Settings settings(path);
        EXPECT_FALSE(settings.diagnosticsEnabled());
        EXPECT_EQ(settings.exportLocation(), "sameAsSource");
        EXPECT_EQ(settings.exportFolderPath(), "");
        EXPECT_FALSE(settings.autoStartConvert());
        EXPECT_FALSE(settings.baseURL().has_value());
        QSignalSpy spy(&settings, &Settings::changed);
        settings.setValue("vorlikDiag", true);
        settings.setValue("lastUpdateCheckAttempt", QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
        settings.setValue("baseURL", "https://stored.example");
        settings.remove("exportFolderPath");
        ASSERT_EQ(spy.count(), 4);
        EXPECT_EQ(spy.at(0).at(0).toString(), "vorlikDiag");
        settings.applyArguments({"vorlik", "-baseURL", "http://127.0.0.1:1", "--not-a-setting", "x", "-dangling"});
        EXPECT_EQ(settings.baseURL().value(), "http://127.0.0.1:1");
        EXPECT_FALSE(settings.contains("-not-a-setting") || settings.contains("dangling"));
        const std::pair<const char *, std::optional<bool>> spellings[] = {
            {"YES", true}, {"yes", true}, {"true", true}, {"1", true}, {"NO", false}, {"false", false}, {"0", false},
            {"maybe", {}}, {"", {}}};
        for (const auto &[text, expected] : spellings) {
            settings.applyArguments({"vorlik", "-vorlikDiag", text});
            EXPECT_EQ(Settings::parseBoolean(settings.value("vorlikDiag")), expected) << text;
            EXPECT_EQ(settings.boolean("vorlikDiag", true), expected.value_or(true)) << text;
        }
    }
    Settings reopened(path);
    EXPECT_TRUE(reopened.diagnosticsEnabled());
    EXPECT_EQ(reopened.date("lastUpdateCheckAttempt")->toSecsSinceEpoch(), 1700000000);
    EXPECT_EQ(reopened.baseURL().value(), "https://stored.example");
}
