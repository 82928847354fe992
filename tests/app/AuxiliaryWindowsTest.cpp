#include "app/AboutView.h"
#include "app/AboutWindowController.h"
#include "app/AppWindows.h"
#include "app/ChangeLog.h"
#include "app/LightPalette.h"
#include "app/ReleaseNotesWindowController.h"
#include "platform/Settings.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"

#include <QPlainTextEdit>

namespace vorlik::test {
namespace {

using app::ChangeLog;

int visibleWindowsTitled(const QString &title)
{
    int count = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        count += window->isVisible() && window->windowTitle() == title;
    return count;
}

TEST(AuxiliaryWindowsTest, AboutAndTheReleaseNotesAreOneWindowEach)
{
    app::LightPalette::apply();
    app::AppWindows windows(platform::Settings::standard(), diagnostics::DiagnosticsLogger::shared(), update::UpdateManager::shared());
    windows.showAbout();
    QWidget *about = windows.about().window();
    saveScreenshot(about, "about");
    about->close(); // closed and asked for again: still the same window
    windows.showAbout();
    windows.showAbout();
    EXPECT_EQ(windows.about().window(), about);
    EXPECT_EQ(visibleWindowsTitled("About Vorlik Desktop"), 1);

    QTest::mouseClick(windows.about().view()->releaseNotesButton(), Qt::LeftButton);
    QTest::mouseClick(windows.about().view()->releaseNotesButton(), Qt::LeftButton);
    EXPECT_EQ(visibleWindowsTitled("Release Notes — Vorlik Desktop"), 1);
    // This test program is no bundle.
    EXPECT_EQ(windows.releaseNotes().textView()->toPlainText(), ChangeLog::missingText());
    saveScreenshot(windows.releaseNotes().window(), "release-notes-missing");
    windows.releaseNotes().window()->close();
    about->close();
}

TEST(ChangeLogTest, ReadsTheFileUnchangedOrSaysItIsMissing)
{
    // The build's "Vorlik Desktop.app" holds the project's CHANGELOG.md as it stands.
    EXPECT_EQ(ChangeLog::loadChangeLog(VORLIK_APP_BUNDLE "/Contents/Resources"),
              QString::fromUtf8(readFile(VORLIK_SOURCE_DIR "/CHANGELOG.md")));
    QTemporaryDir resources;
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());

    const QString file = resources.filePath(QStringLiteral("CHANGELOG.md"));
    const QByteArray notes = "# 1.2.24 (27)\n\n- Loudness \xe2\x80\x94 now per EBU R128\n- **bold** stays as typed\n";
    writeFile(file, notes);
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), QString::fromUtf8(notes));
    // Not UTF-8, or ending in the middle of a character: treated as missing rather than shown garbled or cut.
    for (const QByteArray &broken : {QByteArray("notes \xff\xfe latin"), QByteArray("notes \xe2\x80")}) {
        writeFile(file, broken);
        EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText()) << broken.toStdString();
    }
    // A folder where the file should be cannot be read.
    QFile::remove(file);
    ASSERT_TRUE(QDir(resources.path()).mkdir(QStringLiteral("CHANGELOG.md")));
    EXPECT_EQ(ChangeLog::loadChangeLog(resources.path()), ChangeLog::missingText());
}

} // namespace
} // namespace vorlik::test
