// Where converted files go: the stored export location and folder, read on real folders.
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using vorlik::ffmpeg::ExportLocation;
using vorlik::ffmpeg::Preferences;
using vorlik::platform::Settings;

namespace {

class ExportPreferences : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    Settings m_settings{m_dir.filePath(QStringLiteral("settings.conf"))};
};

} // namespace

TEST_F(ExportPreferences, OnlyTheExactRawValueChoosesTheCustomFolder)
{
    EXPECT_EQ(Preferences::exportLocation(m_settings), ExportLocation::sameAsSource); // missing
    const struct {
        QString stored;
        ExportLocation location;
    } cases[] = {{QStringLiteral("customFolder"), ExportLocation::customFolder},
                 {QStringLiteral("sameAsSource"), ExportLocation::sameAsSource},
                 {QStringLiteral("CustomFolder"), ExportLocation::sameAsSource},
                 {QStringLiteral(" customFolder"), ExportLocation::sameAsSource},
                 {QString(), ExportLocation::sameAsSource}};
    for (const auto &c : cases) {
        m_settings.setValue(QStringLiteral("exportLocation"), c.stored);
        EXPECT_EQ(Preferences::exportLocation(m_settings), c.location) << c.stored.toStdString();
    }
    EXPECT_EQ(vorlik::ffmpeg::rawValue(ExportLocation::customFolder), QStringLiteral("customFolder"));
    EXPECT_EQ(vorlik::ffmpeg::rawValue(ExportLocation::sameAsSource), QStringLiteral("sameAsSource"));
}

TEST_F(ExportPreferences, SameAsSourceIsTheSourcesFolder)
{
    // The folder need not exist: the source may be on its way.
    EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/media/Take 1.flac"), m_settings), QStringLiteral("/media"));
    m_settings.setValue(QStringLiteral("exportFolderPath"), m_dir.path()); // ignored in this mode
    EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/a/b/c.wav"), m_settings), QStringLiteral("/a/b"));
}

TEST_F(ExportPreferences, TheCustomFolderMustBeAnExistingDirectory)
{
    m_settings.setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    const QString out = m_dir.filePath(QStringLiteral("out put"));
    QDir().mkpath(out);
    vorlik::test::writeFile(m_dir.filePath(QStringLiteral("file")), "x");
    const struct {
        std::optional<QString> stored;
        std::optional<QString> folder;
    } cases[] = {{std::nullopt, std::nullopt},
                 {QString(), std::nullopt},
                 {QStringLiteral(" \t "), std::nullopt},
                 {out, out},
                 {QStringLiteral("\t ") + out + QStringLiteral(" \t"), out},
                 {out + QStringLiteral("/"), out},
                 {m_dir.filePath(QStringLiteral("missing")), std::nullopt},
                 {m_dir.filePath(QStringLiteral("file")), std::nullopt}};
    for (const auto &c : cases) {
        if (c.stored)
            m_settings.setValue(QStringLiteral("exportFolderPath"), *c.stored);
        else
            m_settings.remove(QStringLiteral("exportFolderPath"));
        EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/media/a.wav"), m_settings), c.folder)
            << c.stored.value_or(QStringLiteral("<missing>")).toStdString();
    }
}
