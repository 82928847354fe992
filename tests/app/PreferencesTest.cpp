#include "app/AccountSection.h"
#include "app/ConversionToolsSection.h"
#include "app/DiagnosticsSection.h"
#include "app/OutputSection.h"
#include "app/PreferencesView.h"
#include "app/PreferencesWindowController.h"
#include "app/ToggleSwitch.h"
#include "convert/ConvertRunner.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "service/KeyringThread.h"
#include "tests/app/ShellWindowTest.h"

#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QSpinBox>

namespace vorlik::test {
namespace {

using platform::Settings;
using service::KeychainStore;

class PreferencesTest : public ShellWindowTest {
protected:
    void SetUp() override
    {
        ShellWindowTest::SetUp();
        for (const char *key : {"exportLocation", "exportFolderPath", "ffmpegPathOverride", "simultaneousConversions"})
            Settings::standard().remove(QString::fromLatin1(key));
        windows->showPreferences();
        sections = windows->preferences().view();
    }

    static QString lastLineOf(const QString &path) { return QString::fromUtf8(readFile(path)).trimmed().section(u'\n', -1); }

    app::PreferencesView *sections = nullptr;
};

TEST_F(PreferencesTest, TheOutputPickerStoresWhereConvertedFilesGoAndTheKeyIsRememberedAndClearedOffTheMainThread)
{
    QWidget *window = windows->preferences().window();
    saveScreenshot(window, QStringLiteral("preferences"));
    auto *scroll = window->findChild<QScrollArea *>(QStringLiteral("preferencesScroll"));
    ASSERT_NE(scroll, nullptr);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    saveScreenshot(window, QStringLiteral("preferences-bottom"));
    scroll->verticalScrollBar()->setValue(0);

    app::OutputSection *output = sections->output();
    EXPECT_TRUE(output->sameAsSourceButton()->isChecked());
    EXPECT_FALSE(output->chooseFolderButton()->isVisible());
    QTest::mouseClick(output->customFolderButton(), Qt::LeftButton);
    EXPECT_EQ(Settings::standard().exportLocation(), QStringLiteral("customFolder"));
    EXPECT_TRUE(output->chooseFolderButton()->isVisible());
    EXPECT_EQ(output->folderLabel()->text(), QStringLiteral("No folder chosen"));
    QTemporaryDir folder;
    output->setFolder(folder.path());
    EXPECT_EQ(Settings::standard().exportFolderPath(), folder.path());
    EXPECT_EQ(output->folderLabel()->text(), folder.path());

    QTest::mouseClick(output->sameAsSourceButton(), Qt::LeftButton);
    EXPECT_EQ(Settings::standard().exportLocation(), QStringLiteral("sameAsSource"));
    EXPECT_EQ(Settings::standard().exportFolderPath(), folder.path()); // kept for the next time

    const QString removed = QStringLiteral("Removed — the app will no longer auto-connect.");
    ASSERT_EQ(KeychainStore::save(QStringLiteral("vk_stored_before")), KeychainStore::Result::success());
    app::AccountSection *account = sections->account();
    EXPECT_EQ(account->keyField()->echoMode(), QLineEdit::Password);
    // Only spaces: a key is asked for and the keyring is left alone.
    QTest::keyClicks(account->keyField(), QStringLiteral("    "));
    QTest::mouseClick(account->rememberButton(), Qt::LeftButton);
    EXPECT_EQ(account->keyNote(), QStringLiteral("Enter a client key first."));
    EXPECT_FALSE(account->isKeychainBusy());
    EXPECT_EQ(KeychainStore::load(), QStringLiteral("vk_stored_before"));

    // The trimmed key is stored; the keyring answers on its own thread, and until then neither
    // button can be pressed. The keyring thread is held during the click, as an answer ready
    // before the click returns would be taken at once.
    const auto clickedWhileTheKeyringWaits = [&](QAbstractButton *button) {
        const auto gate = std::make_shared<QSemaphore>();
        service::KeyringThread::instance().submit<bool>([gate] { return gate->acquire(), true; });
        QTest::mouseClick(button, Qt::LeftButton);
        const bool held = account->isKeychainBusy() && !account->rememberButton()->isEnabled() && !account->clearButton()->isEnabled();
        gate->release();
        return held;
    };
    account->keyField()->setText(QStringLiteral("\t vk_typed_key_123 \n"));
    EXPECT_TRUE(clickedWhileTheKeyringWaits(account->rememberButton()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !account->isKeychainBusy(); }, 30000));
    EXPECT_TRUE(account->rememberButton()->isEnabled() && account->clearButton()->isEnabled());
    EXPECT_EQ(account->keyNote(), QStringLiteral("Saved — the app connects with this key automatically on launch."));
    EXPECT_EQ(KeychainStore::load(), QStringLiteral("vk_typed_key_123"));
    saveScreenshot(windows->preferences().window(), QStringLiteral("preferences-key-saved"));

    // Clear removes it, and says so again when nothing is stored.
    for (int time = 0; time < 2; ++time) {
        account->keyField()->setText(QStringLiteral("typed but never saved"));
        EXPECT_TRUE(clickedWhileTheKeyringWaits(account->clearButton()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !account->isKeychainBusy(); }, 30000));
        EXPECT_EQ(account->keyNote(), removed);
        EXPECT_TRUE(account->keyField()->text().isEmpty());
        EXPECT_EQ(KeychainStore::load(), std::nullopt);
    }
}

TEST_F(PreferencesTest, TheDetectedFFmpegFollowsTheOverrideAndAnInstallAndDiagnosticsAndTheExportWriteTheLog)
{
    app::ConversionToolsSection *tools = sections->conversionTools();
    // Debian's ffmpeg is on PATH here.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tools->isDetecting(); }, 30000));
    ASSERT_TRUE(tools->detectedVersion().has_value());
    EXPECT_TRUE(tools->detectedVersion()->startsWith("ffmpeg version")) << tools->detectedVersion()->toStdString();
    EXPECT_FALSE(tools->warningRow()->isVisible());

    // A program that is not ffmpeg finds nothing, and the section warns.
    QTemporaryDir folder;
    const QString fake = folder.filePath("not-ffmpeg");
    writeFile(fake, "#!/bin/sh\nexit 3\n");
    QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QTest::keyClicks(tools->overrideField(), fake);
    EXPECT_EQ(Settings::standard().ffmpegPathOverride(), fake);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tools->detectedVersion().has_value() && !tools->isDetecting(); }, 30000));
    // The shown version follows what is found now, not what was found before.
    EXPECT_EQ(tools->versionLabel()->text(), QStringLiteral("(not found — use Install FFmpeg on the Convert page)"));
    EXPECT_TRUE(tools->warningRow()->isVisible());
    saveScreenshot(windows->preferences().window(), QStringLiteral("preferences-no-ffmpeg"));

    QTest::mouseClick(tools->resetButton(), Qt::LeftButton);
    EXPECT_TRUE(tools->overrideField()->text().isEmpty() && Settings::standard().ffmpegPathOverride().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tools->detectedVersion().has_value(); }, 30000));
    EXPECT_FALSE(tools->warningRow()->isVisible());

    // Simultaneous conversions: one at a time unless asked, at most one per processor core.
    QSpinBox *simultaneous = tools->simultaneousField();
    EXPECT_EQ(simultaneous->value(), 1);
    EXPECT_EQ(simultaneous->maximum(), convert::ConvertRunner::maximumSimultaneousConversions());
    simultaneous->setValue(simultaneous->maximum());
    EXPECT_EQ(convert::ConvertRunner::simultaneousConversions(Settings::standard()), simultaneous->maximum());
    Settings::standard().remove("simultaneousConversions");

    // Install opens the install sheet over the settings window.
    app::PreferencesWindowController &preferences = windows->preferences();
    QTest::mouseClick(tools->installButton(), Qt::LeftButton);
    ffmpeg::FFmpegInstallSheet *sheet = preferences.installSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->window()->parentWidget(), preferences.window());
    sheet->reject();
    QTest::mouseClick(tools->installButton(), Qt::LeftButton);
    EXPECT_EQ(preferences.installSheet(), sheet) << "kept and shown again";

    // The section shows the version of what the sheet installs.
    sheet->reject();
    Q_EMIT sheet->installed("/usr/bin/ffmpeg");
    EXPECT_TRUE(tools->isDetecting());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tools->isDetecting() && tools->detectedVersion().has_value(); }, 30000));

    Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
    diagnostics::DiagnosticsLogger &logger = diagnostics::DiagnosticsLogger::shared();
    logger.stop();
    app::DiagnosticsSection *section = sections->diagnostics();
    EXPECT_FALSE(section->loggingSwitch()->isChecked());

    QTest::mouseClick(section->loggingSwitch(), Qt::LeftButton);
    EXPECT_TRUE(Settings::standard().diagnosticsEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Logging on — everything the app does is now recorded."));
    logger.drain(); // the file opens...
    logger.drain(); // ...and then the session-start line is queued behind it
    EXPECT_TRUE(lastLineOf(logger.logFilePath()).contains("[diagnostics] ")) << lastLineOf(logger.logFilePath()).toStdString();

    QTest::mouseClick(section->loggingSwitch(), Qt::LeftButton);
    EXPECT_FALSE(Settings::standard().diagnosticsEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Logging off."));
    logger.drain();
    EXPECT_TRUE(lastLineOf(logger.logFilePath()).endsWith(" [diagnostics] disabled from Preferences"))
        << lastLineOf(logger.logFilePath()).toStdString();
    EXPECT_TRUE(readFile(logger.logFilePath()).contains("[diagnostics] enabled from Preferences"));

    // The file is closed: what is logged from now on does not reach it.
    const qint64 size = QFileInfo(logger.logFilePath()).size();
    logger.log(QStringLiteral("ui"), QStringLiteral("after switching off"));
    logger.drain();
    EXPECT_EQ(QFileInfo(logger.logFilePath()).size(), size);

    // The export, diagnostics on again.
    QTest::mouseClick(section->loggingSwitch(), Qt::LeftButton);
    logger.log(QStringLiteral("ui"), QStringLiteral("a line to export"));
    const QString path = folder.filePath(QStringLiteral("Vorlik-Logs.txt"));
    section->exportTo(path);
    EXPECT_FALSE(section->exportButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !section->isExporting(); }, 30000));
    EXPECT_TRUE(section->exportButton()->isEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Exported — attach Vorlik-Logs.txt to your report."));
    const QString exported = QString::fromUtf8(readFile(path));
    EXPECT_TRUE(exported.startsWith("Vorlik Log — ") && exported.contains("[ui] a line to export")) << exported.toStdString();

    // A folder that does not exist cannot take it: the note says so and nothing is claimed.
    const QString impossible = folder.filePath(QStringLiteral("missing/Vorlik-Logs.txt"));
    section->exportTo(impossible);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !section->isExporting(); }, 30000));
    EXPECT_EQ(section->diagnosticsNote(), "Could not export the log to " + impossible + '.');
    EXPECT_FALSE(QFile::exists(impossible));
}

} // namespace
} // namespace vorlik::test
