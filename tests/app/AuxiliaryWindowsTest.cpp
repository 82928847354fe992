// About and the release notes: one window each however often they are asked for, their texts,
// and the release notes read from a bundle's resources (or the note that there are none).
#include "app/AboutView.h"
#include "app/AboutWindowController.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/ChangeLog.h"
#include "app/ReleaseNotesWindowController.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vorlik::test {
namespace {

using app::ChangeLog;

class AuxiliaryWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::LightPalette::apply(); // as the application shows itself
        windows = std::make_unique<app::AppWindows>(platform::Settings::standard(),
                                                    diagnostics::DiagnosticsLogger::shared(), update::UpdateManager::shared());
    }

    static int visibleWindowsTitled(const QString &title)
    {
        int count = 0;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->windowTitle() == title)
                ++count;
        return count;
    }

    std::unique_ptr<app::AppWindows> windows;
};

TEST_F(AuxiliaryWindowsTest, AboutTwiceShowsTheSameWindow)
{
    windows->showAbout();
    QWidget *first = windows->about().window();
    windows->showAbout();
    EXPECT_EQ(windows->about().window(), first);
    EXPECT_EQ(visibleWindowsTitled(QStringLiteral("About Vorlik Desktop")), 1);
    EXPECT_EQ(first->size(), QSize(340, 300));
    EXPECT_TRUE(first->isVisible());

    // Closed and asked for again: still the same window.
    first->close();
    windows->showAbout();
    EXPECT_EQ(windows->about().window(), first);
    EXPECT_EQ(visibleWindowsTitled(QStringLiteral("About Vorlik Desktop")), 1);

    QStringList texts;
    for (QLabel *label : first->findChildren<QLabel *>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains(QStringLiteral("Vorlik Desktop")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Version 1.2.24 (27)")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Correction, Cinema, Convert and Analysis in one app. "
                                              "Conversion scripts and audio analysis stay online.")));
    saveScreenshot(first, QStringLiteral("about"));
}

TEST_F(AuxiliaryWindowsTest, ReleaseNotesButtonOpensTheReleaseNotesOnce)
{
    windows->showAbout();
    QPushButton *button = windows->about().view()->releaseNotesButton();
    EXPECT_EQ(button->text(), QStringLiteral("Release Notes"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(visibleWindowsTitled(QStringLiteral("Release Notes — Vorlik Desktop")), 1);
    windows->releaseNotes().window()->close();
    windows->about().window()->close();
}

TEST_F(AuxiliaryWindowsTest, ReleaseNotesWithoutABundleSayTheyAreMissing)
{
    windows->showReleaseNotes();
    QPlainTextEdit *text = windows->releaseNotes().textView();
    EXPECT_EQ(text->toPlainText(), QStringLiteral("CHANGELOG.md is not bundled with this build."));
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->font().pointSize(), 12);
    EXPECT_EQ(text->document()->documentMargin(), 14);
    EXPECT_EQ(windows->releaseNotes().window()->size(), QSize(580, 480));
    EXPECT_EQ(windows->releaseNotes().window()->windowTitle(), QStringLiteral("Release Notes — Vorlik Desktop"));
    saveScreenshot(windows->releaseNotes().window(), QStringLiteral("release-notes-missing"));
    windows->releaseNotes().window()->close();
}

TEST(ChangeLogTest, TheApplicationBundleCarriesTheReleaseNotes)
{
    // The build's "Vorlik Desktop.app" holds the project's CHANGELOG.md as it stands.
    EXPECT_EQ(ChangeLog::loadChangeLog(QStringLiteral(VORLIK_APP_BUNDLE "/Contents/Resources")),
              QString::fromUtf8(readFile(QStringLiteral(VORLIK_SOURCE_DIR "/CHANGELOG.md"))));
    // This test program is no bundle.
    EXPECT_EQ(ChangeLog::resourceFolder(), std::nullopt);
}

TEST(ChangeLogTest, ReadsTheFileUnchangedOrSaysItIsMissing)
{
    QTemporaryDir resources;
    EXPECT_EQ(ChangeLog::loadChangeLog(std::nullopt), ChangeLog::missingText());
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());

    const QByteArray notes = "# 1.2.24 (27)\n\n- Loudness \xe2\x80\x94 now per EBU R128\n- **bold** stays as typed\n";
    writeFile(resources.filePath(QStringLiteral("CHANGELOG.md")), notes);
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), QString::fromUtf8(notes));

    // Not UTF-8: treated as missing rather than shown garbled.
    writeFile(resources.filePath(QStringLiteral("CHANGELOG.md")), QByteArray("notes \xff\xfe latin"));
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());
    // Nor is a file that ends in the middle of a character.
    writeFile(resources.filePath(QStringLiteral("CHANGELOG.md")), QByteArray("notes \xe2\x80"));
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());

    // A folder where the file should be cannot be read.
    QFile::remove(resources.filePath(QStringLiteral("CHANGELOG.md")));
    ASSERT_TRUE(QDir(resources.path()).mkdir(QStringLiteral("CHANGELOG.md")));
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());
}

} // namespace
} // namespace vorlik::test
