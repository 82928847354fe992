// Where converted files go: the stored export location and folder, read on real folders.
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using vorlik::ffmpeg::ExportLocation;
using vorlik::ffmpeg::Preferences;

TEST(ExportPreferences, TheSourcesFolderUnlessExactlyCustomFolderWithAnExistingDirectory)
{
    QTemporaryDir dir;
    vorlik::platform::Settings settings(dir.filePath(QStringLiteral("settings.conf")));
    const QString out = dir.filePath(QStringLiteral("out put"));
    QDir().mkpath(out);
    vorlik::test::writeFile(dir.filePath(QStringLiteral("file")), "x");
    settings.setValue(QStringLiteral("exportFolderPath"), out);
    // The folder need not exist: the source may be on its way.
    EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/media/Take 1.flac"), settings), QStringLiteral("/media"));
    const QString stored[] = {vorlik::ffmpeg::rawValue(ExportLocation::sameAsSource), "CustomFolder", " customFolder", "",
                              vorlik::ffmpeg::rawValue(ExportLocation::customFolder)};
    for (const QString &value : stored) {
        settings.setValue(QStringLiteral("exportLocation"), value);
        const bool custom = value == QStringLiteral("customFolder");
        EXPECT_EQ(Preferences::exportLocation(settings), custom ? ExportLocation::customFolder : ExportLocation::sameAsSource) << value.toStdString();
        EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/a/b/c.wav"), settings), custom ? out : QStringLiteral("/a/b"));
    }

    const std::pair<std::optional<QString>, std::optional<QString>> cases[] = {
        {std::nullopt, std::nullopt}, {QString(), std::nullopt}, {QStringLiteral(" \t "), std::nullopt},
        {QStringLiteral("\t ") + out + QStringLiteral(" \t"), out}, {out + QStringLiteral("/"), out},
        {dir.filePath(QStringLiteral("missing")), std::nullopt}, {dir.filePath(QStringLiteral("file")), std::nullopt},
    };
    for (const auto &[stored, folder] : cases) {
        if (stored)
            settings.setValue(QStringLiteral("exportFolderPath"), *stored);
        else
            settings.remove(QStringLiteral("exportFolderPath"));
        EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/media/a.wav"), settings), folder) << stored.value_or("<missing>").toStdString();
    }
    settings.remove(QStringLiteral("exportLocation"));
    EXPECT_EQ(Preferences::exportLocation(settings), ExportLocation::sameAsSource);
}
